// The loader's skinned window under Wine on the harness's display, with a job
// the tests script: pixels of built frames, placement, the fade, the pass
// guard, the dialog binding and the hand-over of the installing look from
// the job's thread.

#include <doctest.h>

#include "tests/ui/ScriptedLoaderDialog.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/GdiPlusHandles.h"
#include "ui/NotificationReflection.h"
#include "ui/StripeLayout.h"
#include "ui/WindowHooks.h"
#include "ui/WindowTasks.h"

#include <commctrl.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

using namespace uitest;

using namespace Gdiplus;

namespace {

constexpr std::uint32_t kPanel = 0xF7F7F7;

// The job's step that ends the download, as the loader's job takes it.
void ShowInstallingLook(JobDisplay& display)
{
    display.ShowInstallingLook(100);
}

struct Ink {
    int minX = INT_MAX, maxX = -1, minY = INT_MAX, maxY = -1;
    int count = 0;
    int exact = 0;   // pixels of exactly #666666
    int foreign = 0; // pixels that are not a grey between #666666 and the panel
    double CentreX() const { return (minX + maxX + 1) / 2.0; }
    double CentreY() const { return (minY + maxY + 1) / 2.0; }
    int Width() const { return maxX - minX + 1; }
};

// Everything that is not panel between the buttons and the bar (its top at
// 96 DPI), in a frame drawn at scale times that size.
Ink CaptionInk(const SkinFrame& frame, int barTop, int scale = 1)
{
    Ink ink;
    for (int y = 35 * scale; y < (barTop - 2) * scale; ++y) {
        for (int x = 7 * scale; x < 506 * scale; ++x) {
            const std::uint32_t rgb = Rgb(frame.Pixel(x, y));
            if (rgb == kPanel)
                continue;
            ++ink.count;
            ink.minX = x < ink.minX ? x : ink.minX;
            ink.maxX = x > ink.maxX ? x : ink.maxX;
            ink.minY = y < ink.minY ? y : ink.minY;
            ink.maxY = y > ink.maxY ? y : ink.maxY;
            const unsigned level = Red(rgb);
            if (Green(rgb) != level || Blue(rgb) != level || level < 0x66 || level >= 0xF7)
                ++ink.foreign;
            if (rgb == 0x666666)
                ++ink.exact;
        }
    }
    return ink;
}

std::vector<std::uint32_t> BarRow(const SkinFrame& frame, const RECT& bar, int y)
{
    std::vector<std::uint32_t> row;
    for (int x = bar.left; x < bar.right; ++x)
        row.push_back(Rgb(frame.Pixel(x, y)));
    return row;
}

// How many x in [from, to) pass the test.
template <typename Test>
int Count(int from, int to, Test passes)
{
    int count = 0;
    for (int x = from; x < to; ++x)
        count += passes(x);
    return count;
}

// The fill's blue, at any green of its gradient.
bool IsFillBlue(std::uint32_t rgb) { return Red(rgb) == 0 && Blue(rgb) == 0xFF; }

// A rectangle's four sides, each its own check; what names it in a failure.
void CheckRect(const char* what, const RECT& rect, const RECT& expected)
{
    INFO(what);
    CHECK(rect.left == expected.left);
    CHECK(rect.top == expected.top);
    CHECK(rect.right == expected.right);
    CHECK(rect.bottom == expected.bottom);
}

// A dialog created, shown and faded in.
struct ShownDialog : ScriptedLoaderDialog {
    explicit ShownDialog(const CaptionFonts& fonts = DefaultCaptionFonts()) : ScriptedLoaderDialog(fonts)
    {
        REQUIRE(Create());
        REQUIRE(FadedIn());
    }
    SkinFrame Frame()
    {
        SkinFrame frame;
        REQUIRE(BuildFrame(frame));
        return frame;
    }
    RECT Rect(HWND child) const { return ChildRect(Window(), child); }
    int BarTop() const { return Rect(bar.Window()).top; }
    // The caption's ink in a frame built now.
    Ink Caption() { return CaptionInk(Frame(), BarTop()); }
};

// A generic family that exists. (Wine looks for "Microsoft Sans Serif" or
// "Tahoma", which the harness's prefix does not have.)
GpStatus WINGDIPAPI InstalledGenericFamily(GpFontFamily** family)
{
    return GdipCreateFontFamilyFromName(L"Liberation Sans", nullptr, family);
}

GpStatus WINGDIPAPI NoGenericFamily(GpFontFamily** family)
{
    // What Wine gives without its font mapping.
    *family = nullptr;
    return FontFamilyNotFound;
}

// Watches the dialog's hand-over rings and the bar's messages, each in front
// of the window's own procedure.
struct BarSpy {
    int handOvers = 0;      // rings during which the bar turned to stripes
    int insideHandOver = 0;
    bool marqueeInsideHandOver = false;
    bool styleInsideHandOver = false;

    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data)
    {
        auto* spy = reinterpret_cast<BarSpy*>(data);
        if (message == PBM_SETMARQUEE && wParam)
            spy->marqueeInsideHandOver = spy->insideHandOver > 0;
        if (message == WM_STYLECHANGED && wParam == static_cast<WPARAM>(GWL_STYLE) &&
            (reinterpret_cast<const STYLESTRUCT*>(lParam)->styleNew & PBS_MARQUEE))
            spy->styleInsideHandOver = spy->insideHandOver > 0;
        if (message != WindowTasks::RingMessage())
            return ::DefSubclassProc(window, message, wParam, lParam);
        const bool before = spy->marqueeInsideHandOver;
        ++spy->insideHandOver;
        LRESULT result = ::DefSubclassProc(window, message, wParam, lParam);
        --spy->insideHandOver;
        spy->handOvers += spy->marqueeInsideHandOver && !before;
        return result;
    }
};

// Two hooks that record which of them saw a message, in order.
std::vector<char> hookTrail;

LRESULT CALLBACK OuterHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK InnerHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

LRESULT CallHook(WNDPROC self, char mark, HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    window_hooks::Hook hook;
    if (!window_hooks::Find(window, self, hook))
        return ::DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_USER + 7 && hook.data)
        hookTrail.push_back(mark);
    LRESULT result = ::CallWindowProcW(hook.previous, window, message, wParam, lParam);
    if (message == WM_NCDESTROY)
        window_hooks::Forget(window, self);
    return result;
}

LRESULT CALLBACK OuterHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return CallHook(&OuterHook, 'o', window, message, wParam, lParam);
}

LRESULT CALLBACK InnerHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return CallHook(&InnerHook, 'i', window, message, wParam, lParam);
}

std::vector<int> DistinctAlphas(const std::vector<int>& pushed)
{
    std::vector<int> steps;
    for (int alpha : pushed)
        if ((alpha != 0 || !steps.empty()) && (steps.empty() || steps.back() != alpha))
            steps.push_back(alpha);
    return steps;
}

} // namespace

TEST_SUITE("frame") {

TEST_CASE("panel opaque in its three colours, shadow translucent black around it")
{
    ShownDialog dialog;
    SkinFrame frame = dialog.Frame();
    REQUIRE(frame.Width() == 513);
    REQUIRE(frame.Height() == 264);

    CHECK(frame.Pixel(7, 7) == 0xFFF7F7F7);
    CHECK(frame.Pixel(100, 100) == 0xFFF7F7F7);
    CHECK(frame.Pixel(500, 175) == 0xFFF7F7F7);
    CHECK(frame.Pixel(20, 176) == 0xFFE6E6E6);
    CHECK(frame.Pixel(480, 176) == 0xFFE6E6E6);
    CHECK(frame.Pixel(20, 177) == 0xFFFFFFFF);
    CHECK(frame.Pixel(20, 240) == 0xFFFFFFFF);
    CHECK(frame.Pixel(505, 256) == 0xFFFFFFFF);

    int translucentPanel = 0, badShadow = 0, strongest = 0;
    for (int y = 0; y < 264; ++y) {
        for (int x = 0; x < 513; ++x) {
            const std::uint32_t pixel = frame.Pixel(x, y);
            const bool panel = x >= 7 && x <= 505 && y >= 7 && y <= 256;
            if (panel) {
                translucentPanel += AlphaOf(pixel) != 255;
                continue;
            }
            // Premultiplied black: no colour at all, alpha at most 31.
            badShadow += AlphaOf(pixel) > 31 || Rgb(pixel) != 0;
            strongest = AlphaOf(pixel) > static_cast<unsigned>(strongest) ? AlphaOf(pixel) : strongest;
        }
    }
    CHECK(translucentPanel == 0);
    CHECK(badShadow == 0);
    CHECK(strongest >= 25); // next to the panel
    CHECK(AlphaOf(frame.Pixel(6, 130)) >= 25);
    CHECK(AlphaOf(frame.Pixel(0, 130)) <= 1);
    CHECK(AlphaOf(frame.Pixel(0, 0)) == 0);
    CHECK(AlphaOf(frame.Pixel(512, 263)) == 0);
    CHECK(AlphaOf(frame.Pixel(512, 0)) == 0);
}

TEST_CASE("both captions are centred on x = 256 and the line at one third, in #666666")
{
    ShownDialog dialog;
    int widths[2] = {0, 0};
    // Downloading first, then installing as the job hands it over.
    for (int i = 0; i < 2; ++i) {
        CAPTURE(i);
        if (i == 1)
            REQUIRE(dialog.job.Do(ShowInstallingLook));
        Ink ink = dialog.Caption();
        REQUIRE(ink.count > 100);
        CHECK(ink.CentreX() > 254.5);
        CHECK(ink.CentreX() < 257.5);
        CHECK(ink.CentreY() > 85.0);
        CHECK(ink.CentreY() < 91.0);
        CHECK(ink.foreign == 0);
        CHECK(ink.exact >= 20);
        widths[i] = ink.Width();
    }
    // Different texts, different widths, the same centre.
    CHECK(widths[1] > widths[0] + 10);
}

TEST_CASE("the generic family stands in for a missing Arial; with neither the caption is skipped")
{
    SkinFrame generic, bare;
    RECT bar = {};
    {
        ShownDialog dialog(CaptionFonts{L"Kovra No Such Family", &InstalledGenericFamily});
        bar = dialog.Rect(dialog.bar.Window());
        generic = dialog.Frame();
    }
    Ink ink = CaptionInk(generic, bar.top);
    CHECK(ink.count > 100);
    CHECK(ink.CentreX() > 254.5);
    CHECK(ink.CentreX() < 257.5);

    {
        ShownDialog dialog(CaptionFonts{L"Kovra No Such Family", &NoGenericFamily});
        bare = dialog.Frame();
    }
    CHECK(CaptionInk(bare, bar.top).count == 0);
    // The rest of the picture is all there.
    CHECK(Rgb(bare.Pixel(bar.left + 200, bar.top + 4)) == 0xCCCCCC);
    CHECK(bare.Pixel(20, 176) == 0xFFE6E6E6);
    CHECK(Rgb(bare.Pixel(478, 24)) == 0x666666);
}

TEST_CASE("the bar's fill is empty, half and full at 0, 50 and 100, blue from light to dark")
{
    ShownDialog dialog;
    HWND barWindow = dialog.bar.Window();
    const RECT bar = dialog.Rect(barWindow);
    REQUIRE(bar.right - bar.left == 453);
    const int middle = bar.top + 4;

    ::SendMessageW(barWindow, PBM_SETPOS, 0, 0);
    std::vector<std::uint32_t> row = BarRow(dialog.Frame(), bar, middle);
    CHECK(Count(0, 453, [&](int x) { return row[x] == 0xCCCCCC; }) == 453);

    ::SendMessageW(barWindow, PBM_SETPOS, 50, 0);
    row = BarRow(dialog.Frame(), bar, middle);
    CHECK(Count(0, 226, [&](int x) { return IsFillBlue(row[x]); }) == 226);
    CHECK(Count(227, 453, [&](int x) { return row[x] == 0xCCCCCC; }) == 226);

    ::SendMessageW(barWindow, PBM_SETPOS, 100, 0);
    SkinFrame full = dialog.Frame();
    row = BarRow(full, bar, middle);
    CHECK(Count(0, 453, [&](int x) { return IsFillBlue(row[x]); }) == 453);

    // Vertical gradient #00A8FF at the top to #0070FF at the bottom.
    const std::uint32_t top = Rgb(full.Pixel(bar.left + 100, bar.top));
    const std::uint32_t bottom = Rgb(full.Pixel(bar.left + 100, bar.bottom - 1));
    CAPTURE(top);
    CAPTURE(bottom);
    CHECK(Red(top) == 0);
    CHECK(Blue(top) == 0xFF);
    CHECK(Green(top) >= 0x9C);
    CHECK(Green(top) <= 0xA8);
    CHECK(Red(bottom) == 0);
    CHECK(Blue(bottom) == 0xFF);
    CHECK(Green(bottom) >= 0x70);
    CHECK(Green(bottom) <= 0x7C);
    unsigned previous = 0x100;
    for (int y = bar.top; y < bar.bottom; ++y) {
        const unsigned green = Green(full.Pixel(bar.left + 100, y));
        CHECK(green <= previous);
        previous = green;
    }
    // The window's surroundings of the bar are untouched panel.
    CHECK(Rgb(full.Pixel(bar.left - 1, middle)) == kPanel);
    CHECK(Rgb(full.Pixel(bar.right, middle)) == kPanel);
    CHECK(Rgb(full.Pixel(bar.left + 100, bar.bottom)) == kPanel);
}

TEST_CASE("stripes move 2 pixels a tick and wrap after the bar's width")
{
    ShownDialog dialog;
    SkinProgressBar& bar = dialog.bar;
    HWND barWindow = bar.Window();
    const RECT rect = dialog.Rect(barWindow);
    const int middle = rect.top + 4;

    bar.SwitchToStripes();
    CHECK(bar.Marquee());
    CHECK((::GetWindowLongPtrW(barWindow, GWL_STYLE) & PBS_MARQUEE) != 0);
    // Drive the animation by hand: timer 1 gives way to 2123.
    ::SendMessageW(barWindow, WM_TIMER, SkinProgressBar::kSwitchTimer, 0);
    CHECK_FALSE(::KillTimer(barWindow, SkinProgressBar::kSwitchTimer));
    CHECK(::KillTimer(barWindow, SkinProgressBar::kStripeTimer));
    REQUIRE(bar.Offset() == 0);

    SkinFrame start = dialog.Frame();
    std::vector<std::uint32_t> first = BarRow(start, rect, middle);
    CHECK(Count(0, 453, [&](int x) { return first[x] == 0xCCCCCC; }) > 100); // stripes, not the fill
    CHECK(Count(0, 453, [&](int x) { return first[x] == 0xDCDCDC; }) > 100);
    // The stripe lean: one row up, the pattern is one pixel further right.
    std::vector<std::uint32_t> above = BarRow(start, rect, middle - 1);
    CHECK(Count(1, 453, [&](int x) { return above[x] == first[x - 1]; }) == 452);

    ::SendMessageW(barWindow, WM_TIMER, SkinProgressBar::kStripeTimer, 0);
    CHECK(bar.Offset() == 2);
    std::vector<std::uint32_t> moved = BarRow(dialog.Frame(), rect, middle);
    CHECK(Count(2, 453, [&](int x) { return moved[x] == first[x - 2]; }) == 451);
    CHECK(moved != first);

    int ticks = 1;
    while (bar.Offset() != 0 && ticks < 1000) {
        ::SendMessageW(barWindow, WM_TIMER, SkinProgressBar::kStripeTimer, 0);
        ++ticks;
        if (bar.Offset() != 0)
            REQUIRE(bar.Offset() == 2 * ticks);
    }
    CHECK(ticks == 227);
    CHECK(BarRow(dialog.Frame(), rect, middle) == first);
}

TEST_CASE("a stripe tile without width neither hangs nor draws")
{
    struct Run {
        bool created = false;
        bool built = false;
        int ticksSeen = 0;
        std::uint32_t track = 0;
    } run;
    std::atomic<bool> finished{false};
    // On a thread of its own, so that a hang shows as a time-out here.
    std::thread worker([&run, &finished] {
        ScriptedLoaderDialog dialog(DefaultCaptionFonts(), 999); // no such tile
        run.created = dialog.Create();
        if (run.created) {
            dialog.FadedIn();
            dialog.bar.SwitchToStripes();
            PumpUntil([&] { return dialog.bar.Offset() >= 6; }, 5000);
            run.ticksSeen = dialog.bar.Offset() / 2;
            SkinFrame frame;
            run.built = dialog.BuildFrame(frame);
            const RECT bar = ChildRect(dialog.Window(), dialog.bar.Window());
            run.track = Rgb(frame.Pixel(bar.left + 100, bar.top + 4));
            dialog.Destroy();
        }
        finished = true;
    });
    for (int waited = 0; !finished && waited < 20000; waited += 10)
        ::Sleep(10);
    if (!finished) {
        FAIL_CHECK("the stripe drawing with a zero-width tile did not return");
        std::fflush(nullptr);
        ::ExitProcess(3);
    }
    worker.join();
    CHECK(run.created);
    CHECK(run.built);
    CHECK(run.ticksSeen >= 3);
    CHECK(run.track == 0xCCCCCC);
}

TEST_CASE("glyphs in their normal look; a hidden control is absent from the frame")
{
    ShownDialog dialog;
    const RECT close = dialog.Rect(dialog.close.Window());
    const RECT minimise = dialog.Rect(dialog.minimise.Window());
    SkinFrame frame = dialog.Frame();
    CHECK(Rgb(frame.Pixel(close.left + 4, close.top + 4)) == 0x666666);
    CHECK(Rgb(frame.Pixel(close.left + 4, close.top)) == kPanel);
    CHECK(Rgb(frame.Pixel(minimise.left + 4, minimise.top + 8)) == 0x666666);
    CHECK(Rgb(frame.Pixel(minimise.left + 4, minimise.top + 2)) == kPanel);

    ::ShowWindow(dialog.close.Window(), SW_HIDE);
    frame = dialog.Frame();
    CHECK(DifferingPixels(Of(frame), [](int, int) { return 0xFFF7F7F7u; }, close) == 0);
    CHECK(Rgb(frame.Pixel(minimise.left + 4, minimise.top + 8)) == 0x666666);

    ::ShowWindow(dialog.close.Window(), SW_SHOW);
    frame = dialog.Frame();
    CHECK(Rgb(frame.Pixel(close.left + 4, close.top + 4)) == 0x666666);
}

TEST_CASE("the changed area of two frames bounds exactly the pixels that differ")
{
    SkinFrame before, after;
    REQUIRE(before.Create(40, 20));
    REQUIRE(after.Create(40, 20));
    RECT none = after.ChangedArea(before);
    CHECK(::IsRectEmpty(&none));

    UniqueBrush white(::CreateSolidBrush(RGB(255, 255, 255)));
    RECT patch = {5, 3, 9, 7};
    ::FillRect(after.Dc(), &patch, white.get());
    RECT area = after.ChangedArea(before);
    CheckRect("the patch", area, RECT{5, 3, 9, 7}); // its top counted from the top although the rows lie bottom-up
    const RECT reverse = before.ChangedArea(after);
    CHECK(::EqualRect(&reverse, &area));

    ::SetPixel(after.Dc(), 39, 19, RGB(1, 2, 3));
    CheckRect("the patch and the corner", after.ChangedArea(before), RECT{5, 3, 40, 20});

    SkinFrame other;
    REQUIRE(other.Create(41, 20));
    CheckRect("against a frame of another size", after.ChangedArea(other), RECT{0, 0, 40, 20});
}

TEST_CASE("the stripes are the tiles drawn one by one, at every phase")
{
    ShownDialog dialog;
    SkinProgressBar& bar = dialog.bar;
    HWND barWindow = bar.Window();
    bar.SwitchToStripes();
    ::SendMessageW(barWindow, WM_TIMER, SkinProgressBar::kSwitchTimer, 0);
    ::KillTimer(barWindow, SkinProgressBar::kStripeTimer);

    SkinImage tile;
    tile.LoadFromResource(nullptr, IDP_STRIPE_TILE, L"PNG");
    const int tileWidth = tile.Size().cx;
    REQUIRE(tileWidth == 29);
    RECT client = {};
    ::GetClientRect(barWindow, &client);
    const int width = client.right, height = client.bottom;
    SkinFrame painted, expected;
    REQUIRE(painted.Create(width, height));
    REQUIRE(expected.Create(width, height));

    // 2 and 29 have no common divisor: one round of the bar meets every phase.
    int compared = 0, wrong = 0;
    do {
        CAPTURE(bar.Offset());
        REQUIRE(painted.Reuse(width, height));
        // Printed as the composition captures it.
        ::SendMessageW(barWindow, WM_PRINT, reinterpret_cast<WPARAM>(painted.Dc()), PRF_CLIENT);

        REQUIRE(expected.Reuse(width, height));
        GpGraphics* created = nullptr;
        GdipCreateFromHDC(expected.Dc(), &created);
        UniqueGpGraphics graphics(created);
        REQUIRE(graphics);
        GpSolidFill* track = nullptr;
        GdipCreateSolidFill(0xFFCCCCCC, &track);
        UniqueGpBrush trackBrush(track);
        GdipFillRectangle(graphics.get(), trackBrush.get(), 0.0f, 0.0f, static_cast<REAL>(width),
                          static_cast<REAL>(height));
        ForEachStripeTile(bar.Offset(), width, tileWidth, [&](int left) {
            tile.DrawTo(graphics.get(), RECT{left, 0, left + tileWidth, height});
        });
        graphics.reset();

        const int differ = DifferingPixels(Of(painted), Of(expected), RECT{0, 0, width, height}, true);
        CHECK(differ == 0);
        wrong += differ != 0;
        ++compared;
        ::SendMessageW(barWindow, WM_TIMER, SkinProgressBar::kStripeTimer, 0);
    } while (bar.Offset() != 0 && wrong < 3);
    CHECK(compared == 227);
}

TEST_CASE("the static layers are drawn again after a change is handed over, not every pass")
{
    ShownDialog dialog;
    const int downloadingWidth = dialog.Caption().Width();

    const int draws = dialog.staticDraws, passes = dialog.passes;
    for (int percent = 10; percent <= 50; percent += 10) {
        ::SendMessageW(dialog.bar.Window(), PBM_SETPOS, percent, 0);
        dialog.Compose();
    }
    CHECK(dialog.passes >= passes + 5);
    CHECK(dialog.staticDraws == draws);

    // Handed over from the job's thread: the hand-over is the announcement,
    // and the next pass shows it.
    REQUIRE(dialog.job.Do(ShowInstallingLook));
    Ink ink = dialog.Caption();
    CHECK(dialog.staticDraws > draws);
    CHECK(ink.Width() > downloadingWidth + 10);
    CHECK(ink.CentreX() > 254.5);
    CHECK(ink.CentreX() < 257.5);

    // Not again for the passes after it.
    const int handedOver = dialog.staticDraws;
    dialog.keepPushed = true;
    dialog.Compose();
    CHECK(dialog.staticDraws == handedOver);
    REQUIRE(dialog.lastPushed.size() == 513u * 264u);
    SkinFrame frame = dialog.Frame();
    CHECK(CaptionInk(frame, dialog.BarTop()).Width() == ink.Width());
    CHECK(DifferingPixels(Of(dialog.lastPushed, 513), Of(frame), RECT{0, 0, 513, 264}) == 0);
}

TEST_CASE("after many passes a pushed frame is the whole picture a fresh window builds")
{
    ShownDialog dialog;
    HWND barWindow = dialog.bar.Window();
    dialog.keepPushed = true;
    ::SendMessageW(barWindow, PBM_SETPOS, 60, 0);
    REQUIRE(PumpQueued());

    // The installing look as the loader's job hands it over, then some ticks
    // and a control gone.
    REQUIRE(dialog.job.Do(ShowInstallingLook));
    ::SendMessageW(barWindow, WM_TIMER, SkinProgressBar::kSwitchTimer, 0);
    ::KillTimer(barWindow, SkinProgressBar::kStripeTimer);
    for (int tick = 0; tick < 5; ++tick) {
        ::SendMessageW(barWindow, WM_TIMER, SkinProgressBar::kStripeTimer, 0);
        REQUIRE(PumpQueued());
    }
    ::ShowWindow(dialog.close.Window(), SW_HIDE);
    REQUIRE(PumpQueued());
    const int pushes = dialog.pushes;
    dialog.Compose();
    REQUIRE(dialog.pushes == pushes + 1);
    REQUIRE(dialog.lastPushed.size() == 513u * 264u);

    ShownDialog fresh;
    REQUIRE(fresh.job.Do(ShowInstallingLook));
    ::ShowWindow(fresh.close.Window(), SW_HIDE);
    HWND freshBar = fresh.bar.Window();
    ::SendMessageW(freshBar, WM_TIMER, SkinProgressBar::kSwitchTimer, 0);
    ::KillTimer(freshBar, SkinProgressBar::kStripeTimer);
    // The stripes ran on their own during the hand-overs: the phase is
    // brought to the first window's tick by tick.
    for (int tick = 0; fresh.bar.Offset() != dialog.bar.Offset() && tick < 1000; ++tick)
        ::SendMessageW(freshBar, WM_TIMER, SkinProgressBar::kStripeTimer, 0);
    REQUIRE(fresh.bar.Offset() == dialog.bar.Offset());
    SkinFrame expected;
    REQUIRE(fresh.BuildFrame(expected));

    CHECK(DifferingPixels(Of(dialog.lastPushed, 513), Of(expected), RECT{0, 0, 513, 264}) == 0);
}

} // TEST_SUITE

TEST_SUITE("window") {

TEST_CASE("the object gets its window's messages from the first one on")
{
    ScriptedLoaderDialog dialog;
    REQUIRE(dialog.Create());
    HWND window = dialog.Window();
    REQUIRE(window);
    CHECK(::GetWindowLongPtrW(window, DWLP_USER) == reinterpret_cast<LONG_PTR>(&dialog));
    REQUIRE(!dialog.messages.empty());
    // WM_SETFONT comes before WM_INITDIALOG; a binding made in WM_INITDIALOG
    // would miss it.
    CHECK(dialog.messages.front() == WM_SETFONT);
    bool initialised = false;
    for (UINT message : dialog.messages)
        initialised = initialised || message == WM_INITDIALOG;
    CHECK(initialised);

    dialog.Destroy();
    CHECK(dialog.Window() == nullptr);
    // Nothing is left waiting: the next dialog of this thread binds its own object.
    ScriptedLoaderDialog next;
    REQUIRE(next.Create());
    CHECK(::GetWindowLongPtrW(next.Window(), DWLP_USER) == reinterpret_cast<LONG_PTR>(&next));
}

TEST_CASE("dialogs created at once on two threads each bind their own object")
{
    struct Result {
        bool created = false;
        bool ownObject = false;
        HWND window = nullptr;
    } results[2];
    std::atomic<int> ready{0};
    auto create = [&ready](Result* result) {
        ScriptedLoaderDialog dialog;
        ++ready;
        while (ready < 2)
            ::Sleep(0);
        result->created = dialog.Create();
        result->window = dialog.Window();
        result->ownObject =
            result->window && ::GetWindowLongPtrW(result->window, DWLP_USER) == reinterpret_cast<LONG_PTR>(&dialog);
        PumpQueued();
        dialog.Destroy();
    };
    for (int round = 0; round < 3; ++round) {
        CAPTURE(round);
        ready = 0;
        std::thread first(create, &results[0]);
        std::thread second(create, &results[1]);
        first.join();
        second.join();
        CHECK(results[0].created);
        CHECK(results[1].created);
        CHECK(results[0].ownObject);
        CHECK(results[1].ownObject);
        CHECK(results[0].window != results[1].window);
    }
}

TEST_CASE("513 x 264, centred on the work area, controls at their rectangles, icons set")
{
    ShownDialog dialog;
    HWND window = dialog.Window();
    RECT rect = {};
    ::GetWindowRect(window, &rect);
    CHECK(rect.right - rect.left == 513);
    CHECK(rect.bottom - rect.top == 264);
    RECT client = {};
    ::GetClientRect(window, &client);
    CHECK(client.right == 513);
    CHECK(client.bottom == 264);

    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    REQUIRE(::GetMonitorInfoW(::MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor));
    const RECT& work = monitor.rcWork;
    CHECK(rect.left == (work.left + work.right) / 2 - 513 / 2);
    CHECK(rect.top == (work.top + work.bottom) / 2 - 264 / 2);

    const RECT close = dialog.Rect(dialog.close.Window());
    const RECT minimise = dialog.Rect(dialog.minimise.Window());
    const RECT bar = dialog.Rect(dialog.bar.Window());
    CheckRect("close", close, RECT{474, 20, 483, 29});
    CheckRect("minimise", minimise, RECT{445, 20, 454, 29});
    CHECK(bar.left == 30);
    CHECK(bar.right - bar.left == 453);
    CHECK(bar.bottom - bar.top == 9);
    // The bar keeps the top edge of the template.
    RECT units = {23, 74, 310, 80};
    REQUIRE(::MapDialogRect(window, &units));
    CHECK(bar.top == units.top);

    CHECK(::SendMessageW(dialog.bar.Window(), PBM_GETRANGE, FALSE, 0) == 100);
    CHECK(::SendMessageW(dialog.bar.Window(), PBM_GETRANGE, TRUE, 0) == 0);
    CHECK(::SendMessageW(dialog.bar.Window(), PBM_GETPOS, 0, 0) == 0);

    const struct {
        WPARAM kind;
        int size;
    } icons[] = {{ICON_BIG, ::GetSystemMetrics(SM_CXICON)}, {ICON_SMALL, ::GetSystemMetrics(SM_CXSMICON)}};
    for (const auto& expected : icons) {
        CAPTURE(expected.kind);
        HICON icon = reinterpret_cast<HICON>(::SendMessageW(window, WM_GETICON, expected.kind, 0));
        REQUIRE(icon);
        ICONINFO info = {};
        REQUIRE(::GetIconInfo(icon, &info));
        UniqueBitmap colour(info.hbmColor);
        UniqueBitmap mask(info.hbmMask);
        BITMAP bitmap = {};
        REQUIRE(::GetObjectW(colour.get(), sizeof(bitmap), &bitmap));
        CHECK(bitmap.bmWidth == expected.size);
    }
}

TEST_CASE("WM_DPICHANGED lays the window out at the new scale from the 2x set; back at 96 DPI it is as before")
{
    ShownDialog dialog;
    HWND window = dialog.Window();
    HWND controls[3] = {dialog.close.Window(), dialog.minimise.Window(), dialog.bar.Window()};
    RECT at96[3], placeAt96 = {};
    for (int i = 0; i < 3; ++i)
        at96[i] = dialog.Rect(controls[i]);
    ::GetWindowRect(window, &placeAt96);
    const SkinFrame original = dialog.Frame();
    const int captionWidth96 = CaptionInk(original, at96[2].top).Width();

    // Windows asks for the size at the new DPI, then proposes a rectangle.
    SIZE asked = {};
    CHECK(::SendMessageW(window, 0x02E4 /* WM_GETDPISCALEDSIZE */, 192, reinterpret_cast<LPARAM>(&asked)) == TRUE);
    CHECK((asked.cx == 1026 && asked.cy == 528));
    RECT proposed = {40, 30, 40 + 1026, 30 + 528}, place = {};
    ::SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&proposed));
    ::GetWindowRect(window, &place);
    CHECK(::EqualRect(&place, &proposed));
    for (int i = 0; i < 3; ++i) {
        const RECT rect = dialog.Rect(controls[i]);
        const RECT twice = {2 * at96[i].left, 2 * at96[i].top, 2 * at96[i].right, 2 * at96[i].bottom};
        CHECK(::EqualRect(&rect, &twice));
    }
    SkinFrame large = dialog.Frame();
    REQUIRE((large.Width() == 1026 && large.Height() == 528));
    // No stretched pixel: below the line the frame is the 2x picture itself.
    SkinImage picture;
    picture.LoadFromResource(nullptr, IDP_BACKGROUND_2X, L"PNG");
    SkinFrame expected;
    REQUIRE(expected.Create(1026, 528));
    REQUIRE(picture.Draw(expected.Dc(), RECT{0, 0, 1026, 528}));
    ::GdiFlush();
    CHECK(DifferingPixels(Of(large), Of(expected), RECT{0, 354, 1026, 528}) == 0);
    const RECT close = dialog.Rect(controls[0]);
    CHECK(Rgb(large.Pixel(close.left + 9, close.top + 9)) == 0x666666);
    CHECK(Rgb(large.Pixel(close.left + 9, close.top + 1)) == kPanel);
    // The caption twice as large, around the middle of the 2x window.
    const Ink doubled = CaptionInk(large, at96[2].top, 2);
    CHECK(doubled.minX + doubled.maxX > 1026 - 6);
    CHECK(doubled.minX + doubled.maxX < 1026 + 6);
    CHECK(doubled.Width() > captionWidth96 * 18 / 10);
    CHECK(doubled.Width() < captionWidth96 * 22 / 10);

    // Back at 96 DPI where it was: the same picture as before, pixel for pixel.
    ::SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(&placeAt96));
    SkinFrame again = dialog.Frame();
    REQUIRE(again.Width() == 513);
    CHECK(DifferingPixels(Of(again), Of(original), RECT{0, 0, 513, 264}) == 0);

    // At 192 DPI the stripes move 4 pixels a tick: as fast as at 96 to the eye.
    ::SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&proposed));
    dialog.bar.SwitchToStripes();
    ::SendMessageW(controls[2], WM_TIMER, SkinProgressBar::kSwitchTimer, 0);
    ::KillTimer(controls[2], SkinProgressBar::kStripeTimer);
    ::SendMessageW(controls[2], WM_TIMER, SkinProgressBar::kStripeTimer, 0);
    CHECK(dialog.bar.Offset() == 4);
}

TEST_CASE("the fade pushes alphas 10, 20, ..., 250, 255 once; hide and show do not repeat it")
{
    ShownDialog dialog;
    REQUIRE(PumpQueued());
    std::vector<int> expected;
    for (int alpha = 10; alpha <= 250; alpha += 10)
        expected.push_back(alpha);
    expected.push_back(255);
    CHECK(DistinctAlphas(dialog.pushedAlphas) == expected);

    const size_t before = dialog.pushedAlphas.size();
    ::ShowWindow(dialog.Window(), SW_HIDE);
    REQUIRE(PumpQueued());
    ::ShowWindow(dialog.Window(), SW_SHOW);
    CHECK(dialog.Alpha() == 255);
    ::SendMessageW(dialog.bar.Window(), PBM_SETPOS, 30, 0); // a change to show
    REQUIRE(PumpUntil([&] { return dialog.pushedAlphas.size() > before; }, 5000));
    REQUIRE(PumpQueued());
    int dimmer = 0;
    for (size_t i = before; i < dialog.pushedAlphas.size(); ++i)
        dimmer += dialog.pushedAlphas[i] != 255;
    CHECK(dimmer == 0);

    // A second window of the same process fades in as well.
    ScriptedLoaderDialog second;
    REQUIRE(second.Create());
    CHECK(second.FadedIn());
    CHECK(DistinctAlphas(second.pushedAlphas) == expected);
}

TEST_CASE("the close command hides the window for good; the job's progress still reaches it")
{
    ShownDialog dialog;
    HWND window = dialog.Window();
    // What Alt+F4 and the taskbar's Close send.
    ::SendMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    CHECK(::IsWindow(window));
    CHECK_FALSE(::IsWindowVisible(window));
    // The show a modal dialog's loop makes the first time its queue runs
    // empty, which can come after a close.
    ::ShowWindow(window, SW_SHOWNORMAL);
    CHECK_FALSE(::IsWindowVisible(window));
    REQUIRE(dialog.job.Do([](JobDisplay& display) { display.UpdateProgress(50, 100); }));
    CHECK(PumpUntil([&] { return ::SendMessageW(dialog.bar.Window(), PBM_GETPOS, 0, 0) == 50; }, 5000));
    CHECK_FALSE(::IsWindowVisible(window));
}

TEST_CASE("the private messages, sent by anyone, carry nothing: no alpha, no task, no stripes")
{
    ShownDialog dialog;
    CHECK(::SendMessageW(dialog.Window(), ::RegisterWindowMessageW(L"Kovra.LayeredSkinWindow.FadeStep"), 3, 0) == 255);
    CHECK(dialog.Alpha() == 255);
    // A pointer that is no task: nothing waits, nothing is called.
    CHECK(::SendMessageW(dialog.Window(), ::RegisterWindowMessageW(L"Kovra.LayeredSkinWindow.RunTask"), 0, 0x10) == 1);
    ::SendMessageW(dialog.bar.Window(), ::RegisterWindowMessageW(L"Kovra.SkinProgressBar.SwitchToStripes"), 0, 0);
    CHECK_FALSE(dialog.bar.Marquee());
    // A DPI no monitor has: the window keeps its size, the bar its tiles.
    RECT before = {}, after = {};
    ::GetWindowRect(dialog.Window(), &before);
    RECT proposed = {0, 0, 100000, 100000};
    for (WORD dpi : {WORD(1), WORD(65535)})
        ::SendMessageW(dialog.Window(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&proposed));
    ::GetWindowRect(dialog.Window(), &after);
    CHECK(::EqualRect(&before, &after));
    const int tileWidth = dialog.bar.TileWidth();
    ::SendMessageW(dialog.bar.Window(), ::RegisterWindowMessageW(L"Kovra.ControlScale"), 100000, 0);
    CHECK(dialog.bar.TileWidth() == tileWidth);
}

TEST_CASE("a window gone during its fade leaves the fade thread nothing to touch")
{
    for (int round = 0; round < 3; ++round) {
        auto* dialog = new ScriptedLoaderDialog;
        REQUIRE(dialog->Create());
        // Gone after the fade's first step, while its thread still rings.
        REQUIRE(PumpUntil([&] { return dialog->Alpha() > 0; }, 5000));
        CHECK(dialog->Alpha() < 255);
        dialog->Destroy();
        delete dialog;
        // Reuse the freed memory with garbage: a fade still holding the object
        // would call through it.
        std::vector<std::unique_ptr<char[]>> poison;
        for (int i = 0; i < 8; ++i) {
            poison.emplace_back(new char[sizeof(ScriptedLoaderDialog)]);
            std::memset(poison.back().get(), 0xCC, sizeof(ScriptedLoaderDialog));
        }
        // Its rings (every 10 ms) now meet no window; one still holding the
        // object would call through the garbage meanwhile.
        PumpUntil([] { return false; }, 350);
    }
    ShownDialog after; // still a working process
    CHECK(after.Alpha() == 255);
}

TEST_CASE("a WM_PAINT during a pass starts no nested pass")
{
    ShownDialog dialog;
    int inner = 0;
    dialog.duringPass = [&] {
        // Without the guard every pass would start the next one: stop early
        // so that shows as a failure, not a stack overflow.
        if (++inner > 3)
            return;
        ::SendMessageW(dialog.Window(), WM_PAINT, 0, 0);
        ::RedrawWindow(dialog.bar.Window(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    };
    const int passes = dialog.passes, pushes = dialog.pushes, paints = dialog.paintMessages;
    dialog.Compose();
    dialog.duringPass = nullptr;
    CHECK(inner == 1);
    CHECK(dialog.paintMessages == paints + 1);
    CHECK(dialog.passes == passes + 1);
    CHECK(dialog.pushes == pushes + 1);

    // Outside a pass the same WM_PAINT composes.
    ::SendMessageW(dialog.Window(), WM_PAINT, 0, 0);
    CHECK(dialog.passes == passes + 2);
}

TEST_CASE("the installing look handed over from the job's thread runs on the window's thread")
{
    ShownDialog dialog;
    const int downloadingWidth = dialog.Caption().Width();

    // Which hand-over rings reach the window, and what reaches the bar while
    // one is handled.
    BarSpy spy;
    REQUIRE(::SetWindowSubclass(dialog.Window(), &BarSpy::Proc, 1, reinterpret_cast<DWORD_PTR>(&spy)));
    REQUIRE(::SetWindowSubclass(dialog.bar.Window(), &BarSpy::Proc, 1, reinterpret_cast<DWORD_PTR>(&spy)));

    int swaps = 0;
    const int pushesBefore = dialog.pushes;
    HWND close = dialog.close.Window();
    const bool handedOver = dialog.job.Do([&](JobDisplay& display) {
        // As the loader's job does it.
        display.ShowInstallingLook(100);
        // Many more hand-overs while the window composes the animation.
        for (int i = 0; i < 200; ++i) {
            auto swap = [&, i] {
                ::ShowWindow(close, i % 2 ? SW_SHOW : SW_HIDE);
                dialog.Compose();
            };
            swaps += dialog.RunOnWindowThread(swap);
        }
    });
    ::RemoveWindowSubclass(dialog.Window(), &BarSpy::Proc, 1);
    ::RemoveWindowSubclass(dialog.bar.Window(), &BarSpy::Proc, 1);
    // The switch came within one hand-over, and style, marquee and timer were
    // set while the window's own thread handled it. (Wine accepts SetTimer on
    // another thread's window, Windows does not.)
    CHECK(spy.handOvers == 1);
    CHECK(spy.marqueeInsideHandOver);
    CHECK(spy.styleInsideHandOver);
    CHECK(handedOver);
    CHECK(swaps == 200);
    CHECK(dialog.bar.Marquee());
    CHECK((::GetWindowLongPtrW(dialog.bar.Window(), GWL_STYLE) & PBS_MARQUEE) != 0);
    CHECK(dialog.pushes > pushesBefore + 200);

    // Timer 1 reached the bar on its own thread: the stripes run by themselves.
    const int offset = dialog.bar.Offset();
    CHECK(PumpUntil([&] { return dialog.bar.Offset() != offset && dialog.bar.Offset() != 0; }, 5000));
    const int pushesAnimated = dialog.pushes;
    CHECK(PumpUntil([&] { return dialog.pushes > pushesAnimated; }, 5000)); // each tick composes the window

    Ink ink = dialog.Caption();
    CHECK(ink.Width() > downloadingWidth + 10);
    CHECK(ink.CentreX() > 254.5);
    CHECK(ink.CentreX() < 257.5);

    dialog.Destroy();
    auto never = [] { FAIL_CHECK("ran after the window was gone"); };
    CHECK_FALSE(dialog.RunOnWindowThread(never));
}

TEST_CASE("hooked window procedures chain in order and let go without cutting the chain")
{
    HWND window = ::CreateWindowExW(0, L"static", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    REQUIRE(window);
    const auto own = reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(window, GWLP_WNDPROC));
    int data = 0;
    REQUIRE(window_hooks::Install(window, &InnerHook, &data));
    REQUIRE(window_hooks::Install(window, &OuterHook, &data));
    // Installing again only replaces the data: no hook runs twice.
    REQUIRE(window_hooks::Install(window, &InnerHook, &data));
    hookTrail.clear();
    ::SendMessageW(window, WM_USER + 7, 0, 0);
    CHECK(hookTrail == std::vector<char>{'o', 'i'});

    // The inner hook lets go while the outer one is on top: it stays in the
    // chain and passes everything on.
    window_hooks::Release(window, &InnerHook);
    hookTrail.clear();
    ::SendMessageW(window, WM_USER + 7, 0, 0);
    CHECK(hookTrail == std::vector<char>{'o'});
    const bool outerOnTop = reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(window, GWLP_WNDPROC)) == &OuterHook;
    CHECK(outerOnTop);

    // The outer one, on top, is taken out.
    window_hooks::Release(window, &OuterHook);
    const bool innerOnTop = reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(window, GWLP_WNDPROC)) == &InnerHook;
    CHECK(innerOnTop);
    window_hooks::Hook found;
    CHECK_FALSE(window_hooks::Find(window, &OuterHook, found));
    REQUIRE(window_hooks::Find(window, &InnerHook, found));
    const bool previousIsOwn = found.previous == own;
    CHECK(previousIsOwn);
    CHECK(found.data == nullptr);

    // The window's end drops what is left.
    ::DestroyWindow(window);
    CHECK_FALSE(window_hooks::Find(window, &InnerHook, found));
}

TEST_CASE("a dialog item's parent notification is reflected to that item")
{
    ShownDialog dialog;
    HWND window = dialog.Window();
    HWND bar = dialog.bar.Window();
    CHECK(ReflectionTarget(window, WM_PARENTNOTIFY, MAKEWPARAM(WM_LBUTTONDOWN, IDC_PROGRESS_BAR), 0) == bar);
    CHECK(ReflectionTarget(window, WM_MEASUREITEM, 1, 0) == nullptr);
    MEASUREITEMSTRUCT measure = {};
    measure.CtlID = IDC_CLOSE_BUTTON;
    CHECK(ReflectionTarget(window, WM_MEASUREITEM, IDC_CLOSE_BUTTON, reinterpret_cast<LPARAM>(&measure)) ==
          dialog.close.Window());
    // The reflected draw reaches the button: it answers 0x202B itself.
    DRAWITEMSTRUCT draw = {};
    SkinFrame canvas;
    REQUIRE(canvas.Create(9, 9));
    draw.CtlType = ODT_BUTTON;
    draw.CtlID = IDC_CLOSE_BUTTON;
    draw.hwndItem = dialog.close.Window();
    draw.hDC = canvas.Dc();
    draw.rcItem = RECT{0, 0, 9, 9};
    ::SendMessageW(window, WM_DRAWITEM, IDC_CLOSE_BUTTON, reinterpret_cast<LPARAM>(&draw));
    ::GdiFlush();
    CHECK(Rgb(canvas.Pixel(4, 4)) == 0x666666);
    CHECK(Rgb(canvas.Pixel(4, 0)) == kPanel);
}

} // TEST_SUITE

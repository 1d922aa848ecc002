// The pure decisions of the skinned window: stripe tiles, fill width, stripe
// phase, glyph choice, caption origin and size, centring, control layout,
// scaling to a DPI and which control a notification is reflected to. (The
// fade's steps: as the window pushes them, ui_window_tests.cpp.)

#include <doctest.h>

#include "ui/CaptionDrawing.h"
#include "ui/ControlLayout.h"
#include "ui/DpiScale.h"
#include "ui/ImageButton.h"
#include "ui/NotificationReflection.h"
#include "ui/ScaledPicture.h"
#include "ui/StripeLayout.h"
#include "ui/WindowPlacement.h"

#include <stdexcept>
#include <vector>

using namespace Gdiplus;

namespace {

std::vector<int> TileLefts(int offset, int width, int tileWidth)
{
    std::vector<int> lefts;
    ForEachStripeTile(offset, width, tileWidth, [&](int left) {
        lefts.push_back(left);
        // A loop that does not advance would run on for ever; stop it here so
        // the test fails instead of hanging.
        if (lefts.size() > 10000)
            throw std::runtime_error("stripe loop does not end");
    });
    return lefts;
}

bool SameRect(const RECT& a, const RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

} // namespace

TEST_SUITE("pure") {

TEST_CASE("stripe tiles cover the whole bar once with a tile boundary at the phase")
{
    const int width = 453, tile = 29;
    for (int offset : {0, 2, 10, 28, 29, 30, 226, 450, 452, 453}) {
        CAPTURE(offset);
        std::vector<int> lefts = TileLefts(offset, width, tile);
        std::vector<int> cover(width, 0);
        bool boundary = false;
        for (int left : lefts) {
            boundary = boundary || left == offset || left + tile == offset;
            for (int x = left; x < left + tile; ++x)
                if (x >= 0 && x < width)
                    ++cover[x];
        }
        CHECK(boundary);
        int wrong = 0;
        for (int count : cover)
            wrong += count != 1;
        CHECK(wrong == 0);
    }
    // 453 / 29 + 1 tiles once the phase is off a tile boundary.
    CHECK(TileLefts(10, width, tile).size() == 17);
    CHECK(TileLefts(0, width, tile).size() == 16);
}

TEST_CASE("a strip of whole tiles read from the phase shows what the tiles at the phase show")
{
    const int width = 453, tile = 29;
    for (int offset = 0; offset <= width + 2; ++offset) {
        CAPTURE(offset);
        const int phase = StripPhase(offset, tile);
        REQUIRE(phase >= 0);
        REQUIRE(phase < tile); // the bar fits into a strip one tile wider
        int wrong = 0;
        for (int left : TileLefts(offset, width, tile))
            for (int x = left < 0 ? 0 : left; x < left + tile && x < width; ++x)
                wrong += (phase + x) % tile != x - left;
        CHECK(wrong == 0);
    }
    CHECK(StripPhase(-3, tile) == 3);
    CHECK(StripPhase(5, 0) == 0);
}

TEST_CASE("a tile without width draws nothing and ends")
{
    CHECK(TileLefts(0, 453, 0).empty());
    CHECK(TileLefts(10, 453, 0).empty());
    CHECK(TileLefts(10, 453, -29).empty());
}

TEST_CASE("fill width follows position over the top of the range")
{
    CHECK(FillWidth(0, 100, 453) == 0.0f);
    CHECK(FillWidth(50, 100, 453) == doctest::Approx(226.5f));
    CHECK(FillWidth(100, 100, 453) == 453.0f);
    CHECK(FillWidth(1, 100, 453) == doctest::Approx(4.53f));
    // Nothing past the track, nothing from an empty range.
    CHECK(FillWidth(150, 100, 453) == 453.0f);
    CHECK(FillWidth(50, 0, 453) == 0.0f);
}

TEST_CASE("the stripe phase grows by 2 and wraps once past the bar's width")
{
    int offset = 0;
    int ticks = 0;
    do {
        offset = NextStripeOffset(offset, 453);
        ++ticks;
        if (offset != 0)
            REQUIRE(offset == 2 * ticks);
    } while (offset != 0 && ticks < 1000);
    CHECK(ticks == 227); // 452 is the last phase shown, 454 wraps to 0
    // A phase equal to the width is still shown; the next one wraps.
    CHECK(NextStripeOffset(8, 10) == 10);
    CHECK(NextStripeOffset(10, 10) == 0);
    // At another DPI the phase counts design pixels and wraps once it is
    // past the bar scaled: 452 is 904 of 906 pixels at 192 DPI, 454 is 681.
    CHECK(NextStripeOffset(450, 906, 192) == 452);
    CHECK(NextStripeOffset(452, 906, 192) == 0);
    CHECK(NextStripeOffset(452, 680, 144) == 0);
}

TEST_CASE("design lengths scale by DPI / 96, halves away from zero; rectangles keep their scaled size")
{
    const int rows[][3] = {{513, 96, 513}, {513, 144, 770}, {264, 144, 396}, {513, 192, 1026}, {9, 144, 14},
                           {29, 144, 44},  {7, 120, 9},     {30, 168, 53},   {-3, 144, -5},    {0, 144, 0}};
    for (const auto& row : rows) {
        CAPTURE(row[0]);
        CHECK(ScaleToDpi(row[0], static_cast<UINT>(row[1])) == row[2]);
    }
    // Both buttons 14 pixels wide at 144 DPI, wherever the rounding of their origins falls.
    CHECK(SameRect(ScaleToDpi(RECT{445, 20, 454, 29}, 144), RECT{668, 30, 682, 44}));
    CHECK(SameRect(ScaleToDpi(RECT{474, 20, 483, 29}, 144), RECT{711, 30, 725, 44}));
}

TEST_CASE("a picture is drawn from the 1x set up to its own size, from the 2x set above")
{
    const LONG rows[][5] = {{513, 264, 513, 264, 1}, {770, 396, 513, 264, 2}, {1026, 528, 513, 264, 2},
                            {9, 9, 10, 9, 1} /* the minimise glyph in its 9-pixel button */,
                            {14, 9, 10, 9, 2},       {8, 8, 9, 9, 1},         {27, 27, 9, 9, 2}};
    for (const auto& row : rows) {
        CAPTURE(row[0]);
        CHECK(PictureSetFor(SIZE{row[0], row[1]}, SIZE{row[2], row[3]}) == row[4]);
    }
}

TEST_CASE("the bar's template top at 96 DPI comes back from the font heights, not from dividing by the scale")
{
    // Wine's MS Sans Serif 8 is 12 pixels high at 96 DPI, 17 at 144, 23 at
    // 192, 15 at 120 (157 / 1.5 would give 105); Windows' 13 at 96.
    const int rows[][4] = {{111, 12, 12, 111}, {157, 17, 12, 111}, {213, 23, 12, 111}, {139, 15, 12, 111},
                           {120, 13, 13, 120}, {157, 0, 12, 157},  {157, 17, 0, 157}};
    for (const auto& row : rows) {
        CAPTURE(row[0]);
        CHECK(TemplateTopAt96(row[0], row[1], row[2]) == row[3]);
    }
}

TEST_CASE("pressed wins over hover, hover over normal")
{
    CHECK(ChooseGlyph(false, false) == GlyphLook::Normal);
    CHECK(ChooseGlyph(false, true) == GlyphLook::Hover);
    CHECK(ChooseGlyph(true, false) == GlyphLook::Pressed);
    CHECK(ChooseGlyph(true, true) == GlyphLook::Pressed);
}

TEST_CASE("the caption is centred on the middle column and the line at one third")
{
    PointF origin = CaptionOrigin(513, 264, 131.5f, 16.75f);
    CHECK(origin.X == doctest::Approx(256.0f - 65.75f));
    CHECK(origin.Y == doctest::Approx(88.0f - 8.375f));
    // Integer division first: 257 / 2 = 128, 100 / 3 = 33.
    origin = CaptionOrigin(257, 100, 10.0f, 4.0f);
    CHECK(origin.X == doctest::Approx(123.0f));
    CHECK(origin.Y == doctest::Approx(31.0f));
}

TEST_CASE("the caption is 11 points at 96 DPI, scaled with the window whatever DPI GDI+ converts points at")
{
    CHECK(CaptionPoints(96, 96.0f) == 11.0f); // exactly: the 96 DPI picture stays as it was
    CHECK(CaptionPoints(144, 144.0f) == 11.0f);
    CHECK(CaptionPoints(192, 96.0f) == doctest::Approx(22.0f));
    CHECK(CaptionPoints(96, 144.0f) == doctest::Approx(22.0f / 3.0f)); // a 100 % monitor of a 150 % system
    CHECK(CaptionPoints(144, 0.0f) == 11.0f);                           // GDI+ could not tell
}

TEST_CASE("centring keeps the window inside the area, top-left first")
{
    const RECT screen = {0, 0, 1024, 768}, shifted = {100, 50, 1124, 818}, small = {10, 20, 410, 220};
    const struct {
        RECT owner, area;
        LONG x, y;
    } rows[] = {
        {screen, screen, 256, 252},
        {shifted, shifted, 356, 302},
        // Larger than the area: the top-left corners meet.
        {small, small, 10, 20},
        // Centred on an owner near a corner, pushed back inside the area.
        {RECT{0, 0, 200, 100}, screen, 0, 0},
        {RECT{900, 600, 1000, 700}, screen, 1024 - 513, 768 - 264},
        {RECT{400, 300, 600, 400}, screen, 500 - 256, 350 - 132},
    };
    for (const auto& row : rows) {
        CAPTURE(row.x);
        const POINT p = CentredOrigin(row.owner, row.area, 513, 264);
        CHECK(p.x == row.x);
        CHECK(p.y == row.y);
    }
}

TEST_CASE("the buttons and the bar take their places from the close glyph and the width")
{
    SkinControlRects rects = ComputeControlRects(513, SIZE{9, 9}, 120);
    CHECK(SameRect(rects.close, RECT{474, 20, 483, 29}));
    CHECK(SameRect(rects.minimise, RECT{445, 20, 454, 29}));
    CHECK(SameRect(rects.bar, RECT{30, 120, 483, 129}));

    // No close glyph: both buttons shrink to nothing.
    rects = ComputeControlRects(513, SIZE{0, 0}, 120);
    CHECK(rects.close.right - rects.close.left == 0);
    CHECK(rects.close.bottom - rects.close.top == 0);
    CHECK(rects.minimise.right - rects.minimise.left == 0);
}

TEST_CASE("notifications are reflected to the control they concern")
{
    HWND dialog = nullptr; // item lookups are covered by the window tests
    HWND control = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));
    const LPARAM handle = reinterpret_cast<LPARAM>(control); // the control, as messages pass it
    CHECK(ReflectionTarget(dialog, WM_COMMAND, MAKEWPARAM(1017, BN_CLICKED), handle) == control);
    CHECK(ReflectionTarget(dialog, WM_COMMAND, 2, 0) == nullptr); // Esc: no control

    DRAWITEMSTRUCT draw = {};
    draw.hwndItem = control;
    CHECK(ReflectionTarget(dialog, WM_DRAWITEM, 1017, reinterpret_cast<LPARAM>(&draw)) == control);
    CHECK(ReflectionTarget(dialog, WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&draw)) == nullptr); // a menu

    NMHDR header = {};
    header.hwndFrom = control;
    CHECK(ReflectionTarget(dialog, WM_NOTIFY, 1009, reinterpret_cast<LPARAM>(&header)) == control);

    DELETEITEMSTRUCT deleted = {};
    deleted.hwndItem = control;
    CHECK(ReflectionTarget(dialog, WM_DELETEITEM, 1, reinterpret_cast<LPARAM>(&deleted)) == control);

    CHECK(ReflectionTarget(dialog, WM_CTLCOLORBTN, 0, handle) == control);
    CHECK(ReflectionTarget(dialog, WM_CTLCOLORSTATIC, 0, handle) == control);
    CHECK(ReflectionTarget(dialog, WM_HSCROLL, 0, handle) == control);
    CHECK(ReflectionTarget(dialog, WM_PARENTNOTIFY, MAKEWPARAM(WM_CREATE, 1009), handle) == control);

    CHECK(ReflectionTarget(dialog, WM_MOUSEMOVE, 0, handle) == nullptr);
    CHECK(ReflectionTarget(dialog, WM_TIMER, 1, handle) == nullptr);
}

} // TEST_SUITE

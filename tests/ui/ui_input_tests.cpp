// Real pointer input on the loader's window on the harness's display: the
// glyph looks, clicks, and dragging the window by its surface.

#include <doctest.h>

#include "tests/ui/ScriptedLoaderDialog.h"
#include "tests/ui/UiTestSupport.h"

#include <thread>

using namespace uitest;

namespace {

std::uint32_t FramePixel(ScriptedLoaderDialog& dialog, POINT client)
{
    SkinFrame frame;
    REQUIRE(dialog.BuildFrame(frame));
    return Rgb(frame.Pixel(client.x, client.y));
}

// Moves the pointer and pumps until Wine's cursor is there: the display's
// answer to an earlier move can still come in and put it back.
bool MovePointer(POINT screen)
{
    MouseMoveTo(screen);
    return PumpUntil(
        [screen] {
            POINT now = {};
            return ::GetCursorPos(&now) && now.x == screen.x && now.y == screen.y;
        },
        3000) &&
           PumpQueued();
}

int Count(const std::vector<WORD>& commands, WORD id)
{
    int count = 0;
    for (WORD command : commands)
        count += command == id;
    return count;
}

} // namespace

TEST_SUITE("input") {

TEST_CASE("the close glyph darkens under the pointer, turns black when pressed, and a release on it clicks")
{
    ScriptedLoaderDialog dialog;
    REQUIRE(dialog.Create());
    REQUIRE(dialog.FadedIn());
    HWND window = dialog.Window();
    const RECT close = ChildRect(window, dialog.close.Window());
    const POINT glyphCentre = {close.left + 4, close.top + 4};
    const POINT away = ScreenPoint(window, 100, 150);
    const POINT onClose = ScreenPoint(window, glyphCentre.x, glyphCentre.y);

    REQUIRE(MovePointer(away));
    CHECK_FALSE(dialog.close.Hover());
    CHECK(FramePixel(dialog, glyphCentre) == 0x666666);

    MouseMoveTo(onClose);
    CHECK(PumpUntil([&] { return dialog.close.Hover(); }, 3000));
    REQUIRE(PumpQueued());
    CHECK(FramePixel(dialog, glyphCentre) == 0x444444);

    MouseButton(true);
    CHECK(PumpUntil([&] { return dialog.close.Pressed(); }, 3000));
    REQUIRE(PumpQueued());
    CHECK(FramePixel(dialog, glyphCentre) == 0x000000);

    // Pressed, the pointer leaves: the normal look; released there: no click.
    REQUIRE(MovePointer(away));
    CHECK(FramePixel(dialog, glyphCentre) == 0x666666);
    MouseButton(false);
    REQUIRE(PumpQueued());
    CHECK_FALSE(dialog.close.Pressed());
    CHECK(Count(dialog.commands, IDC_CLOSE_BUTTON) == 0);

    // Pressed again, off and back on: pressed again; released on it: a click.
    // The press lands away from the first one's place by more than the
    // system's double-click rectangle, so that it is a press, not a double click.
    const POINT elsewhereOnClose = ScreenPoint(window, close.right - 2, close.bottom - 2);
    REQUIRE(::GetSystemMetrics(SM_CXDOUBLECLK) / 2 < close.right - 2 - glyphCentre.x);
    REQUIRE(MovePointer(elsewhereOnClose));
    CHECK(PumpUntil([&] { return dialog.close.Hover(); }, 3000));
    MouseButton(true);
    CHECK(PumpUntil([&] { return dialog.close.Pressed(); }, 3000));
    REQUIRE(MovePointer(away));
    CHECK(FramePixel(dialog, glyphCentre) == 0x666666);
    REQUIRE(MovePointer(elsewhereOnClose));
    CHECK(FramePixel(dialog, glyphCentre) == 0x000000);
    MouseButton(false);
    REQUIRE(PumpQueued());
    CHECK_FALSE(dialog.close.Pressed());
    CHECK(Count(dialog.commands, IDC_CLOSE_BUTTON) == 1);
    CHECK(dialog.moveRequests == 0); // a click on a control starts no move
    // The loader's close only hides its window, and nothing shows it again;
    // the button has let go of its hover look.
    CHECK_FALSE(::IsWindowVisible(window));
    ::ShowWindow(window, SW_SHOWNA);
    REQUIRE(PumpQueued());
    CHECK_FALSE(::IsWindowVisible(window));
    CHECK(PumpUntil([&] { return !dialog.close.Hover(); }, 3000));
}

TEST_CASE("the minimise glyph shows its hover look too")
{
    ScriptedLoaderDialog dialog;
    REQUIRE(dialog.Create());
    REQUIRE(dialog.FadedIn());
    HWND window = dialog.Window();
    const RECT minimise = ChildRect(window, dialog.minimise.Window());
    const POINT barPixel = {minimise.left + 4, minimise.top + 8};
    MouseMoveTo(ScreenPoint(window, 100, 150));
    REQUIRE(PumpQueued());
    CHECK(FramePixel(dialog, barPixel) == 0x666666);
    MouseMoveTo(ScreenPoint(window, barPixel.x, barPixel.y));
    CHECK(PumpUntil([&] { return dialog.minimise.Hover(); }, 3000));
    REQUIRE(PumpQueued());
    CHECK(FramePixel(dialog, barPixel) == 0x444444);
    MouseMoveTo(ScreenPoint(window, 100, 150));
    CHECK(PumpUntil([&] { return !dialog.minimise.Hover(); }, 3000));
}

TEST_CASE("a press on the surface drags the window; a press on a control does not")
{
    ScriptedLoaderDialog dialog;
    REQUIRE(dialog.Create());
    REQUIRE(dialog.FadedIn());
    HWND window = dialog.Window();
    RECT before = {};
    ::GetWindowRect(window, &before);

    // The platform's move loop runs inside the press on the UI thread, so the
    // pointer is driven from another thread: the moves and the release once
    // the press has started the loop. Input is taken in order.
    const POINT start = ScreenPoint(window, 150, 60);
    std::thread hand([&] {
        MouseMoveTo(start);
        MouseButton(true);
        for (ULONGLONG end = ::GetTickCount64() + 15000; dialog.moveRequests == 0 && ::GetTickCount64() < end;)
            ::Sleep(1);
        for (int step = 1; step <= 4; ++step)
            MouseMoveTo(POINT{start.x + 10 * step, start.y + 6 * step});
        MouseButton(false);
    });
    const bool moved = PumpUntil([&] { return dialog.moveRequests > 0 && ::GetCapture() == nullptr; }, 15000);
    hand.join();
    REQUIRE(moved);
    REQUIRE(PumpQueued());
    CHECK(dialog.moveRequests == 1);
    RECT after = {};
    ::GetWindowRect(window, &after);
    CHECK(after.left - before.left == 40);
    CHECK(after.top - before.top == 24);

    // On the bar (a control): no move request, the window stays.
    const RECT bar = ChildRect(window, dialog.bar.Window());
    const POINT onBar = ScreenPoint(window, bar.left + 50, bar.top + 4);
    MouseMoveTo(onBar);
    REQUIRE(PumpQueued());
    MouseButton(true);
    REQUIRE(PumpQueued());
    MouseMoveTo(POINT{onBar.x + 30, onBar.y + 20});
    REQUIRE(PumpQueued());
    MouseButton(false);
    REQUIRE(PumpQueued());
    CHECK(dialog.moveRequests == 1);
    RECT still = {};
    ::GetWindowRect(window, &still);
    CHECK(still.left == after.left);
    CHECK(still.top == after.top);
    MouseMoveTo(POINT{0, 0});
}

} // TEST_SUITE

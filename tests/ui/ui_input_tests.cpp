// Real pointer input on the loader's window on the harness's display: the
// glyph looks, clicks, and dragging the window by its surface.

#include <doctest.h>

#include "tests/ui/ScriptedLoaderDialog.h"
#include "tests/ui/UiTestSupport.h"

#include <atomic>
#include <thread>

using namespace uitest;

namespace {

std::uint32_t FramePixel(ScriptedLoaderDialog& dialog, POINT client)
{
    SkinFrame frame;
    REQUIRE(dialog.BuildFrame(frame));
    return Rgb(frame.Pixel(client.x, client.y));
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
    REQUIRE(PumpUntil([&] { return dialog.Alpha() == 255; }, 5000));
    HWND window = dialog.Window();
    const RECT close = ChildRect(window, dialog.close.Window());
    const POINT glyphCentre = {close.left + 4, close.top + 4};
    const POINT away = ScreenPoint(window, 100, 150);
    const POINT onClose = ScreenPoint(window, glyphCentre.x, glyphCentre.y);

    MouseMoveTo(away);
    PumpFor(150);
    CHECK_FALSE(dialog.close.Hover());
    CHECK(FramePixel(dialog, glyphCentre) == 0x666666);

    MouseMoveTo(onClose);
    CHECK(PumpUntil([&] { return dialog.close.Hover(); }, 3000));
    PumpFor(50);
    CHECK(FramePixel(dialog, glyphCentre) == 0x444444);

    MouseButton(true);
    CHECK(PumpUntil([&] { return dialog.close.Pressed(); }, 3000));
    PumpFor(50);
    CHECK(FramePixel(dialog, glyphCentre) == 0x000000);

    // Pressed, the pointer leaves: the normal look; back on it: pressed again.
    MouseMoveTo(away);
    PumpFor(200);
    CHECK(FramePixel(dialog, glyphCentre) == 0x666666);
    MouseMoveTo(onClose);
    PumpFor(200);
    CHECK(FramePixel(dialog, glyphCentre) == 0x000000);

    MouseButton(false);
    PumpFor(200);
    CHECK_FALSE(dialog.close.Pressed());
    CHECK(Count(dialog.commands, IDC_CLOSE_BUTTON) == 1);
    CHECK(dialog.moveRequests == 0); // a click on a control starts no move
    // The loader's close only hides its window; shown again for the rest.
    CHECK_FALSE(::IsWindowVisible(window));
    ::ShowWindow(window, SW_SHOWNA);
    PumpFor(100);

    // Pressed, dragged off and released outside: no click.
    MouseButton(true);
    PumpFor(150);
    MouseMoveTo(away);
    PumpFor(150);
    MouseButton(false);
    PumpFor(200);
    CHECK(Count(dialog.commands, IDC_CLOSE_BUTTON) == 1);
    CHECK(dialog.moveRequests == 0);

    // Gone from the button: normal again.
    CHECK(PumpUntil([&] { return !dialog.close.Hover(); }, 3000));
    CHECK(FramePixel(dialog, glyphCentre) == 0x666666);
}

TEST_CASE("the minimise glyph shows its hover look too")
{
    ScriptedLoaderDialog dialog;
    REQUIRE(dialog.Create());
    REQUIRE(PumpUntil([&] { return dialog.Alpha() == 255; }, 5000));
    HWND window = dialog.Window();
    const RECT minimise = ChildRect(window, dialog.minimise.Window());
    const POINT barPixel = {minimise.left + 4, minimise.top + 8};
    MouseMoveTo(ScreenPoint(window, 100, 150));
    PumpFor(150);
    CHECK(FramePixel(dialog, barPixel) == 0x666666);
    MouseMoveTo(ScreenPoint(window, barPixel.x, barPixel.y));
    CHECK(PumpUntil([&] { return dialog.minimise.Hover(); }, 3000));
    PumpFor(50);
    CHECK(FramePixel(dialog, barPixel) == 0x444444);
    MouseMoveTo(ScreenPoint(window, 100, 150));
    CHECK(PumpUntil([&] { return !dialog.minimise.Hover(); }, 3000));
}

TEST_CASE("a press on the surface drags the window; a press on a control does not")
{
    ScriptedLoaderDialog dialog;
    REQUIRE(dialog.Create());
    REQUIRE(PumpUntil([&] { return dialog.Alpha() == 255; }, 5000));
    HWND window = dialog.Window();
    RECT before = {};
    ::GetWindowRect(window, &before);

    // The platform's move loop runs inside the press on the UI thread, so the
    // pointer is driven from another thread.
    const POINT start = ScreenPoint(window, 150, 60);
    std::atomic<bool> done{false};
    std::thread hand([&] {
        MouseMoveTo(start);
        ::Sleep(150);
        MouseButton(true);
        ::Sleep(200);
        for (int step = 1; step <= 4; ++step) {
            MouseMoveTo(POINT{start.x + 10 * step, start.y + 6 * step});
            ::Sleep(60);
        }
        ::Sleep(150);
        MouseButton(false);
        ::Sleep(150);
        done = true;
    });
    const bool finished = PumpUntil([&] { return done.load(); }, 15000);
    hand.join();
    REQUIRE(finished);
    PumpFor(200);
    CHECK(dialog.moveRequests == 1);
    RECT after = {};
    ::GetWindowRect(window, &after);
    CHECK(after.left - before.left == 40);
    CHECK(after.top - before.top == 24);

    // On the bar (a control): no move request, the window stays.
    const RECT bar = ChildRect(window, dialog.bar.Window());
    const POINT onBar = ScreenPoint(window, bar.left + 50, bar.top + 4);
    MouseMoveTo(onBar);
    PumpFor(150);
    MouseButton(true);
    PumpFor(150);
    MouseMoveTo(POINT{onBar.x + 30, onBar.y + 20});
    PumpFor(150);
    MouseButton(false);
    PumpFor(200);
    CHECK(dialog.moveRequests == 1);
    RECT still = {};
    ::GetWindowRect(window, &still);
    CHECK(still.left == after.left);
    CHECK(still.top == after.top);
    MouseMoveTo(POINT{0, 0});
}

} // TEST_SUITE

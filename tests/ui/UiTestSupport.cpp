#include "tests/ui/UiTestSupport.h"

namespace uitest {

bool PumpQueued()
{
    return PumpUntil([] { return HIWORD(::GetQueueStatus(QS_ALLINPUT & ~QS_TIMER)) == 0; }, 5000);
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs)
{
    const DWORD start = ::GetTickCount();
    for (;;) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        if (done())
            return true;
        if (::GetTickCount() - start >= timeoutMs)
            return done();
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

int DifferingPixels(const Pixels& a, const Pixels& b, const RECT& area, bool rgbOnly)
{
    const std::uint32_t mask = rgbOnly ? 0xFFFFFF : 0xFFFFFFFF;
    int differ = 0;
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x)
            differ += (a(x, y) & mask) != (b(x, y) & mask);
    return differ;
}

RECT ChildRect(HWND parent, HWND child)
{
    RECT rect = {};
    ::GetWindowRect(child, &rect);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

POINT ScreenPoint(HWND window, int x, int y)
{
    POINT point = {x, y};
    ::ClientToScreen(window, &point);
    return point;
}

void MouseMoveTo(POINT screen)
{
    INPUT input = {};
    input.type = INPUT_MOUSE;
    const int width = ::GetSystemMetrics(SM_CXSCREEN);
    const int height = ::GetSystemMetrics(SM_CYSCREEN);
    input.mi.dx = static_cast<LONG>((screen.x * 65536 + width / 2) / width);
    input.mi.dy = static_cast<LONG>((screen.y * 65536 + height / 2) / height);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    ::SendInput(1, &input, sizeof(input));
}

void MouseButton(bool down)
{
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
    ::SendInput(1, &input, sizeof(input));
}

} // namespace uitest

#include "ui/WindowPlacement.h"

POINT CentredOrigin(const RECT& centreOn, const RECT& area, int width, int height)
{
    POINT origin;
    origin.x = (centreOn.left + centreOn.right) / 2 - width / 2;
    origin.y = (centreOn.top + centreOn.bottom) / 2 - height / 2;
    if (origin.x + width > area.right)
        origin.x = area.right - width;
    if (origin.x < area.left)
        origin.x = area.left;
    if (origin.y + height > area.bottom)
        origin.y = area.bottom - height;
    if (origin.y < area.top)
        origin.y = area.top;
    return origin;
}

void CentreWindow(HWND window)
{
    HWND reference = ::GetWindow(window, GW_OWNER);
    if (reference) {
        LONG_PTR style = ::GetWindowLongPtrW(reference, GWL_STYLE);
        if (!(style & WS_VISIBLE) || (style & WS_MINIMIZE))
            reference = nullptr;
    }

    HMONITOR monitor = ::MonitorFromWindow(reference ? reference : window, MONITOR_DEFAULTTONEAREST);
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    if (!monitor || !::GetMonitorInfoW(monitor, &info))
        return;

    RECT centreOn = info.rcWork;
    if (reference)
        ::GetWindowRect(reference, &centreOn);
    RECT own = {};
    ::GetWindowRect(window, &own);
    POINT origin = CentredOrigin(centreOn, info.rcWork, own.right - own.left, own.bottom - own.top);
    ::SetWindowPos(window, nullptr, origin.x, origin.y, -1, -1, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

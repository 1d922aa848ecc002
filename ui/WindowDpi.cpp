#include "ui/WindowDpi.h"

#include "common/UniqueHandle.h"
#include "ui/DpiScale.h"

namespace {

template <typename Function>
Function User32Function(const char* name)
{
    return reinterpret_cast<Function>(
        reinterpret_cast<void (*)()>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), name)));
}

} // namespace

UINT WindowDpi(HWND window)
{
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    if (const auto getDpi = User32Function<GetDpiForWindowFn>("GetDpiForWindow")) {
        const UINT dpi = getDpi(window);
        if (dpi)
            return dpi;
    }
    WindowDc screen(nullptr);
    const int dpi = screen.get() ? ::GetDeviceCaps(screen.get(), LOGPIXELSY) : 0;
    return dpi > 0 ? static_cast<UINT>(dpi) : kDesignDpi;
}

void KeepDialogManagerFromScaling(HWND dialog)
{
    using SetDialogDpiChangeBehaviorFn = BOOL(WINAPI*)(HWND, int, int);
    const int disableAll = 1; // DDC_DISABLE_ALL
    if (const auto setBehavior = User32Function<SetDialogDpiChangeBehaviorFn>("SetDialogDpiChangeBehavior"))
        setBehavior(dialog, disableAll, disableAll);
}

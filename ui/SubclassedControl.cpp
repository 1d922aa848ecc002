#include "ui/SubclassedControl.h"

#include "ui/WindowHooks.h"

bool SubclassedControl::Attach(HWND dialog, int itemId)
{
    if (window)
        return true;
    HWND item = ::GetDlgItem(dialog, itemId);
    if (!item || !window_hooks::Install(item, &HookProc, this))
        return false;
    window = item;
    return true;
}

SubclassedControl::~SubclassedControl()
{
    HWND control = window;
    if (control && ::IsWindow(control))
        window_hooks::Release(control, &HookProc);
}

LRESULT CALLBACK SubclassedControl::HookProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    window_hooks::Hook hook;
    if (!window_hooks::Find(window, &HookProc, hook))
        return ::DefWindowProcW(window, message, wParam, lParam);
    auto* self = static_cast<SubclassedControl*>(hook.data);
    if (message == WM_NCDESTROY) {
        LRESULT result = ::CallWindowProcW(hook.previous, window, message, wParam, lParam);
        window_hooks::Forget(window, &HookProc);
        if (self)
            self->window = nullptr;
        return result;
    }
    if (self) {
        MessageResult result = self->OnMessage(message, wParam, lParam);
        if (result.handled)
            return result.value;
    }
    return ::CallWindowProcW(hook.previous, window, message, wParam, lParam);
}

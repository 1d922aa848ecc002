#pragma once
// Window procedures taken over the classic way (SetWindowLongPtrW with
// GWLP_WNDPROC), with one process-wide table from a window and a hook
// procedure to the procedure it replaced and the hook's data. comctl32's
// SetWindowSubclass does the same job, but it looks its data up with
// GetPropW on every message, and under Wine each GetPropW is a round trip to
// the wineserver: a few per message, dozens per composition pass.
//
// A hook procedure looks like this:
//   window_hooks::Hook hook;
//   if (!window_hooks::Find(window, &ThisProc, hook))
//       return ::DefWindowProcW(window, message, wParam, lParam);
//   ... hook.data, then ::CallWindowProcW(hook.previous, ...)
//   and on WM_NCDESTROY, after the previous procedure: Forget.

#include <windows.h>

namespace window_hooks {

struct Hook {
    WNDPROC previous;
    void* data; // null once the owner has let go: pass everything on
};

// Puts hook in front of window's procedure, or only replaces its data when
// hook is already there. False, with nothing changed, when the procedure
// cannot be set or there is no memory.
bool Install(HWND window, WNDPROC hook, void* data);
// hook's entry for window; false when there is none.
bool Find(HWND window, WNDPROC hook, Hook& found);
// The owner lets go while the window lives: hook is taken out when it is the
// window's current procedure, and otherwise passes every message on.
void Release(HWND window, WNDPROC hook);
// Drops hook's entry for window (on WM_NCDESTROY, after the previous
// procedure has run).
void Forget(HWND window, WNDPROC hook);

} // namespace window_hooks

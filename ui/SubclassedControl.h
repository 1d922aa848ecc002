#pragma once
// A window object that takes over a control of a dialog by putting its own
// procedure in front of the control's (window_hooks). Its dispatch sees
// every message first; what it leaves unhandled goes on to the control's own
// procedure.

#include "ui/MessageResult.h"

#include <atomic>

class SubclassedControl {
public:
    SubclassedControl() = default;
    SubclassedControl(const SubclassedControl&) = delete;
    SubclassedControl& operator=(const SubclassedControl&) = delete;

    // Takes over the dialog item; nothing happens when already attached.
    // The handle is recorded only when the subclass was installed.
    bool Attach(HWND dialog, int itemId);
    HWND Window() const { return window; }

protected:
    virtual ~SubclassedControl();
    virtual MessageResult OnMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;

private:
    static LRESULT CALLBACK HookProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Cleared on the control's thread at its WM_NCDESTROY while any thread
    // may read it.
    std::atomic<HWND> window{nullptr};
};

#pragma once
// Notifications a dialog does not handle itself go back to the control they
// concern, as the message number plus 0x2000 (OCM__BASE), so that a control
// can draw itself (an owner-drawn button gets its WM_DRAWITEM as 0x202B).

#include <windows.h>

constexpr UINT kReflectedMessageOffset = 0x2000;

// The control a message of the dialog concerns, or null when there is none.
HWND ReflectionTarget(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

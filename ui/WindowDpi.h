#pragma once
// The platform's DPI interfaces, looked up at run time: the loader also runs
// on Windows 7, which has none of the per-monitor ones.

#include <windows.h>

// The DPI the window is shown at: its monitor's where the platform tells
// (Windows 10 1607 on), otherwise the system's.
UINT WindowDpi(HWND window);

// The dialog manager of a per-monitor-aware dialog (Windows 10 1703 on) moves
// and resizes the controls itself when the DPI changes, by the template's
// dialog units; the window lays itself out instead.
void KeepDialogManagerFromScaling(HWND dialog);

#pragma once
// Centring the window on its owner or on the work area of its monitor.

#include <windows.h>

// Top-left corner that centres a width x height window on centreOn, then
// pushed back inside area; the top-left corner wins when the window is larger.
POINT CentredOrigin(const RECT& centreOn, const RECT& area, int width, int height);

// Centres the window on its owner when that is visible and not minimised,
// otherwise on the work area of the nearest monitor; stays put without one.
void CentreWindow(HWND window);

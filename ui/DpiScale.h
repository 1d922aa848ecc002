#pragma once
// The window is designed in pixels at 96 DPI; at another DPI every length of
// the design is scaled by DPI / 96. Kept pure for testing.

#include <windows.h>

constexpr UINT kDesignDpi = 96;

// Windows scales from 100 % to 500 %. A value outside that came from no
// monitor (any program can send the window a DPI) and is not taken.
constexpr bool IsMonitorDpi(WPARAM dpi) { return dpi >= kDesignDpi && dpi <= 5 * kDesignDpi; }

// length at dpi, halves rounded away from zero (as MulDiv does).
int ScaleToDpi(int length, UINT dpi);
SIZE ScaleToDpi(SIZE design, UINT dpi);
// Origin and size scaled each on its own, so that controls of one design size
// keep one size at every scale.
RECT ScaleToDpi(const RECT& design, UINT dpi);

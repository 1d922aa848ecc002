#pragma once
// Message pumping, pixel reading and real mouse input for the window tests.

#include "ui/SkinFrame.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace uitest {

// Dispatches messages until done() is true or the time-out passes; the result
// is done() at the end.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);
// Dispatches what this thread's queue holds, timers aside (input sent with
// SendInput is in it once that returns), until it is empty.
bool PumpQueued();

inline std::uint32_t Rgb(std::uint32_t pixel) { return pixel & 0xFFFFFF; }
inline unsigned AlphaOf(std::uint32_t pixel) { return pixel >> 24; }
inline unsigned Red(std::uint32_t pixel) { return (pixel >> 16) & 0xFF; }
inline unsigned Green(std::uint32_t pixel) { return (pixel >> 8) & 0xFF; }
inline unsigned Blue(std::uint32_t pixel) { return pixel & 0xFF; }

// A picture read pixel by pixel: a built frame, or the pixels a window
// pushed (row by row, width wide).
using Pixels = std::function<std::uint32_t(int x, int y)>;
inline Pixels Of(const SkinFrame& frame) { return [&frame](int x, int y) { return frame.Pixel(x, y); }; }
inline Pixels Of(const std::vector<std::uint32_t>& pushed, int width)
{
    return [&pushed, width](int x, int y) { return pushed[static_cast<size_t>(y) * width + x]; };
}
// The pixels of the area where two pictures differ; with rgbOnly, differ in
// colour (alpha aside).
int DifferingPixels(const Pixels& a, const Pixels& b, const RECT& area, bool rgbOnly = false);

// A rectangle of a child control in its parent's client coordinates.
RECT ChildRect(HWND parent, HWND child);
// The centre of a client point of window in screen coordinates.
POINT ScreenPoint(HWND window, int x, int y);

// Real input through the platform's input queue (the pointer moves).
void MouseMoveTo(POINT screen);
void MouseButton(bool down);

} // namespace uitest

#pragma once
// Where the two glyph buttons and the progress bar sit on the window.

#include <windows.h>

class LayeredSkinWindow;
class ImageButton;
class SkinProgressBar;

struct SkinControlRects {
    RECT close;
    RECT minimise;
    RECT bar;
};

// Client rectangles for a window clientWidth wide, a close glyph of
// glyph.cx x glyph.cy (both buttons take its size) and a bar whose top edge
// the template gives.
SkinControlRects ComputeControlRects(int clientWidth, SIZE glyph, int barTop);

// The layout a dialog's InitControls does once the three controls are
// attached: glyphs for both buttons (close 124/114/115, minimise 128/126/127)
// and their places, the bar's range 0..100 and position 0 and its place, and
// the window icons from icon group 128.
void LayOutSkinControls(LayeredSkinWindow& dialog, ImageButton& minimise, ImageButton& close,
                        SkinProgressBar& bar);

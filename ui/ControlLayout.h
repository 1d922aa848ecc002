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
// the template gives. In design pixels, at 96 DPI.
SkinControlRects ComputeControlRects(int clientWidth, SIZE glyph, int barTop);

// The dialog manager puts a template's y at y * cy / 8 pixels, cy the height
// of the dialog's font, and that height does not grow in step with the DPI
// (whole, hinted pixels). A top placed with a font of baseUnit is where the
// template puts it with a font of baseUnitAt96; top itself without either.
int TemplateTopAt96(int top, int baseUnit, int baseUnitAt96);

// The layout a dialog's InitControls does once the three controls are
// attached: glyphs for both buttons (close 124/114/115, minimise 128/126/127)
// and their places, the bar's range 0..100 and position 0 and its place, and
// the window icons from icon group 128. The places are the design's at 96
// DPI, with the bar's top where the template puts it at 96 DPI, placed at
// the window's scale.
void LayOutSkinControls(LayeredSkinWindow& dialog, ImageButton& minimise, ImageButton& close,
                        SkinProgressBar& bar);

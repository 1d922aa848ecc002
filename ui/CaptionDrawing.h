#pragma once
// The phase caption of the window ("З А Г Р У З К А", "У С Т А Н О В К А"):
// 11-point Arial in #666666 at 96 DPI (scaled with the window at others),
// centred on the window's middle column and on the line at one third of its
// height.

#include "ui/GdiPlusFlat.h"

// Where the caption's font comes from. Wine without its font mapping has
// neither "Arial" nor a generic sans-serif family; tests stand in for that.
struct CaptionFonts {
    const wchar_t* family;
    GpStatus(WINGDIPAPI* genericSansSerif)(GpFontFamily** family);
};

CaptionFonts DefaultCaptionFonts();

// Top-left corner of a w x h caption box in a clientWidth x clientHeight window.
Gdiplus::PointF CaptionOrigin(int clientWidth, int clientHeight, Gdiplus::REAL w, Gdiplus::REAL h);

// The font size in points that shows as 11 points at 96 DPI scaled to dpi on
// graphics of graphicsDpi (the DPI GDI+ converts points with: the system's,
// which may not be the window's monitor's).
Gdiplus::REAL CaptionPoints(UINT dpi, Gdiplus::REAL graphicsDpi);

// Draws text anti-aliased on the composition's graphics for a window shown at
// dpi. False, with nothing drawn, when no font could be had.
bool DrawCaption(GpGraphics* graphics, const wchar_t* text, HWND window, UINT dpi,
                 const CaptionFonts& fonts = DefaultCaptionFonts());

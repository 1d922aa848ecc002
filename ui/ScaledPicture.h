#pragma once
// A picture of the skin at any size, drawn from the nearer of its two sets:
// the 1x picture (resource id) and the 2x one (id + IDP_DOUBLE_SIZE_OFFSET),
// which is loaded when a size larger than the 1x is first drawn. Up to its own
// size the 1x picture is drawn exactly as the program always drew it (the
// 10 x 9 minimise glyph into its 9 x 9 button too); a larger size that the 2x
// picture does not have is drawn from it reduced or enlarged with
// high-quality interpolation.

#include "ui/SkinImage.h"

// Which set to draw a target size from: 1 (the 1x picture of normal size) or 2.
int PictureSetFor(SIZE target, SIZE normal);

class ScaledPicture {
public:
    // Loads the 1x picture ("PNG" of the program's own file).
    void Load(UINT id);

    // The 1x size: the design's size in pixels at 96 DPI; 0 x 0 when empty.
    SIZE DesignSize() const { return normal.Size(); }

    // Stretched into rect; true when GDI+ drew it. tiled: the picture
    // repeats sideways (the stripe tile), so its left and right edges are
    // interpolated with each other, not with nothing.
    bool DrawTo(GpGraphics* graphics, const RECT& rect, bool tiled = false) const;
    bool Draw(HDC dc, const RECT& rect) const;

private:
    // The 2x picture, or the 1x one where there is none.
    const SkinImage& Large() const;

    SkinImage normal;
    // Window thread only, like drawing.
    mutable SkinImage large;
    mutable bool largeLoaded = false;
    UINT id = 0;
};

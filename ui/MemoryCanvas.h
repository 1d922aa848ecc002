#pragma once
// A memory DC with a bitmap in the screen's format selected into it, kept for
// the owner's life and grown when a larger picture is asked for. For drawing
// that is done again and again (captures of the controls, the stripe strip)
// without a new DC and bitmap each time.

#include "common/UniqueHandle.h"

class MemoryCanvas {
public:
    MemoryCanvas() = default;
    ~MemoryCanvas() { Deselect(); }
    MemoryCanvas(const MemoryCanvas&) = delete;
    MemoryCanvas& operator=(const MemoryCanvas&) = delete;

    // At least width x height pixels; the contents are undefined after a
    // growth. False (and the canvas unchanged) when it cannot be had.
    bool Ensure(int width, int height);

    // Null until Ensure has succeeded.
    HDC Dc() const { return dc.get(); }
    int Width() const { return width; }
    int Height() const { return height; }

private:
    void Deselect() noexcept;

    int width = 0;
    int height = 0;
    UniqueBitmap bitmap;
    UniqueMemoryDc dc;
    HGDIOBJ previous = nullptr;
};

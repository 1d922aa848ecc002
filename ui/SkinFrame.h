#pragma once
// One composed picture of the layered window: a 32-bit bottom-up DIB section
// of premultiplied BGRA pixels, selected into a memory DC of its own.

#include "common/UniqueHandle.h"

#include <cstdint>

class SkinFrame {
public:
    SkinFrame() = default;
    ~SkinFrame() { Deselect(); }
    SkinFrame(SkinFrame&& other) noexcept;
    SkinFrame& operator=(SkinFrame&& other) noexcept;
    SkinFrame(const SkinFrame&) = delete;
    SkinFrame& operator=(const SkinFrame&) = delete;

    // A fully transparent surface (all bytes zero). False when it cannot be made.
    bool Create(int width, int height);

    HDC Dc() const { return dc.get(); }
    int Width() const { return width; }
    int Height() const { return height; }

    // Premultiplied 0xAARRGGBB at (x, y), y counted from the top; 0 outside.
    // Call GdiFlush first when GDI may still be drawing.
    std::uint32_t Pixel(int x, int y) const;

private:
    // Puts the DC's own bitmap back, so that the surface can be deleted.
    void Deselect() noexcept;

    int width = 0;
    int height = 0;
    const std::uint32_t* bits = nullptr;
    UniqueBitmap surface;
    UniqueMemoryDc dc;
    HGDIOBJ previous = nullptr;
};

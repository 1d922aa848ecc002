#pragma once
// One composed picture of the layered window: a 32-bit bottom-up DIB section
// of premultiplied BGRA pixels, selected into a memory DC of its own.

#include "common/UniqueHandle.h"

#include <cstddef>
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
    // Create, unless the surface already has that size; then only cleared.
    bool Reuse(int width, int height);
    // Makes this surface a copy of other's pixels; false (nothing copied)
    // unless both have the same size.
    bool CopyPixelsFrom(const SkinFrame& other);

    HDC Dc() const { return dc.get(); }
    int Width() const { return width; }
    int Height() const { return height; }

    // The smallest rectangle (y counted from the top) that holds every pixel
    // in which this frame and other differ: empty when they are equal, the
    // whole frame when their sizes differ.
    RECT ChangedArea(const SkinFrame& other) const;

    // Premultiplied 0xAARRGGBB at (x, y), y counted from the top; 0 outside.
    // Call GdiFlush first when GDI may still be drawing.
    std::uint32_t Pixel(int x, int y) const;

private:
    // Puts the DC's own bitmap back, so that the surface can be deleted.
    void Deselect() noexcept;

    size_t ByteCount() const { return static_cast<size_t>(width) * height * sizeof(std::uint32_t); }

    int width = 0;
    int height = 0;
    std::uint32_t* bits = nullptr;
    UniqueBitmap surface;
    UniqueMemoryDc dc;
    HGDIOBJ previous = nullptr;
};

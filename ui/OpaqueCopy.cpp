#include "ui/OpaqueCopy.h"

#include <cstdint>

namespace {

void SetAlphaOpaque(HDC dc, int x, int y, int width, int height)
{
    DIBSECTION dib = {};
    HGDIOBJ bitmap = ::GetCurrentObject(dc, OBJ_BITMAP);
    if (!bitmap || ::GetObjectW(bitmap, sizeof(dib), &dib) != static_cast<int>(sizeof(dib)))
        return; // a device-dependent bitmap: no alpha to care for
    if (dib.dsBm.bmBitsPixel != 32 || !dib.dsBm.bmBits)
        return;
    const int surfaceWidth = dib.dsBm.bmWidth;
    const int surfaceHeight = dib.dsBm.bmHeight < 0 ? -dib.dsBm.bmHeight : dib.dsBm.bmHeight;
    const int left = x < 0 ? 0 : x;
    const int top = y < 0 ? 0 : y;
    const int right = x + width > surfaceWidth ? surfaceWidth : x + width;
    const int bottom = y + height > surfaceHeight ? surfaceHeight : y + height;
    if (left >= right || top >= bottom)
        return;
    const bool bottomUp = dib.dsBmih.biHeight > 0;
    auto* bits = static_cast<unsigned char*>(dib.dsBm.bmBits);
    ::GdiFlush();
    for (int row = top; row < bottom; ++row) {
        const int line = bottomUp ? surfaceHeight - 1 - row : row;
        auto* pixels = reinterpret_cast<std::uint32_t*>(bits + static_cast<size_t>(line) * dib.dsBm.bmWidthBytes);
        for (int column = left; column < right; ++column)
            pixels[column] |= 0xFF000000u;
    }
}

} // namespace

bool CopyOpaque(HDC target, int x, int y, int width, int height, HDC source)
{
    if (width <= 0 || height <= 0)
        return false;
    if (!::BitBlt(target, x, y, width, height, source, 0, 0, SRCCOPY))
        return false;
    SetAlphaOpaque(target, x, y, width, height);
    return true;
}

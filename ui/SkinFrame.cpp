#include "ui/SkinFrame.h"

#include <cstring>
#include <utility>

SkinFrame::SkinFrame(SkinFrame&& other) noexcept
    : width(std::exchange(other.width, 0)),
      height(std::exchange(other.height, 0)),
      bits(std::exchange(other.bits, nullptr)),
      surface(std::move(other.surface)),
      dc(std::move(other.dc)),
      previous(std::exchange(other.previous, nullptr))
{
}

SkinFrame& SkinFrame::operator=(SkinFrame&& other) noexcept
{
    if (this != &other) {
        Deselect();
        width = std::exchange(other.width, 0);
        height = std::exchange(other.height, 0);
        bits = std::exchange(other.bits, nullptr);
        surface = std::move(other.surface);
        dc = std::move(other.dc);
        previous = std::exchange(other.previous, nullptr);
    }
    return *this;
}

void SkinFrame::Deselect() noexcept
{
    if (dc && previous)
        ::SelectObject(dc.get(), previous);
    previous = nullptr;
}

bool SkinFrame::Create(int frameWidth, int frameHeight)
{
    if (frameWidth <= 0 || frameHeight <= 0)
        return false;
    const LONG stride = ((frameWidth * 32 + 31) / 8) & ~3;

    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = frameWidth;
    info.bmiHeader.biHeight = frameHeight; // positive: bottom-up rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    info.bmiHeader.biSizeImage = static_cast<DWORD>(stride * frameHeight);

    void* pixels = nullptr;
    UniqueBitmap dib(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0));
    UniqueMemoryDc memory(::CreateCompatibleDC(nullptr));
    if (!dib || !pixels || !memory)
        return false;
    std::memset(pixels, 0, info.bmiHeader.biSizeImage);
    HGDIOBJ replaced = ::SelectObject(memory.get(), dib.get());
    if (!replaced || replaced == HGDI_ERROR)
        return false;

    Deselect();
    surface = std::move(dib);
    dc = std::move(memory);
    previous = replaced;
    bits = static_cast<std::uint32_t*>(pixels);
    width = frameWidth;
    height = frameHeight;
    return true;
}

bool SkinFrame::Reuse(int frameWidth, int frameHeight)
{
    if (!bits || frameWidth != width || frameHeight != height)
        return Create(frameWidth, frameHeight);
    ::GdiFlush();
    std::memset(bits, 0, ByteCount());
    return true;
}

bool SkinFrame::CopyPixelsFrom(const SkinFrame& other)
{
    if (!bits || !other.bits || other.width != width || other.height != height)
        return false;
    ::GdiFlush();
    std::memcpy(bits, other.bits, ByteCount());
    return true;
}

RECT SkinFrame::ChangedArea(const SkinFrame& other) const
{
    if (!bits || !other.bits || other.width != width || other.height != height)
        return RECT{0, 0, width, height};
    ::GdiFlush();
    RECT area = {width, height, 0, 0};
    const size_t rowBytes = static_cast<size_t>(width) * sizeof(std::uint32_t);
    for (int row = 0; row < height; ++row) {
        const std::uint32_t* mine = bits + static_cast<size_t>(row) * width;
        const std::uint32_t* theirs = other.bits + static_cast<size_t>(row) * width;
        if (std::memcmp(mine, theirs, rowBytes) == 0)
            continue;
        int left = 0;
        while (mine[left] == theirs[left])
            ++left;
        int right = width;
        while (mine[right - 1] == theirs[right - 1])
            --right;
        const int y = height - 1 - row; // rows are stored bottom-up
        area.left = left < area.left ? left : area.left;
        area.right = right > area.right ? right : area.right;
        area.top = y < area.top ? y : area.top;
        area.bottom = y + 1 > area.bottom ? y + 1 : area.bottom;
    }
    if (area.left >= area.right)
        return RECT{0, 0, 0, 0};
    return area;
}

std::uint32_t SkinFrame::Pixel(int x, int y) const
{
    if (!bits || x < 0 || y < 0 || x >= width || y >= height)
        return 0;
    return bits[static_cast<size_t>(height - 1 - y) * width + x];
}

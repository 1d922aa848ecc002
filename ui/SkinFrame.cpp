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
    bits = static_cast<const std::uint32_t*>(pixels);
    width = frameWidth;
    height = frameHeight;
    return true;
}

std::uint32_t SkinFrame::Pixel(int x, int y) const
{
    if (!bits || x < 0 || y < 0 || x >= width || y >= height)
        return 0;
    return bits[static_cast<size_t>(height - 1 - y) * width + x];
}

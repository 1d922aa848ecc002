#include "ui/SkinImage.h"

#include "ui/GdiPlusHandles.h"

#include <cstring>
#include <utility>

using namespace Gdiplus;

SkinImage::SkinImage(SkinImage&& other) noexcept
    : image(std::exchange(other.image, nullptr)), stream(std::move(other.stream))
{
}

SkinImage& SkinImage::operator=(SkinImage&& other) noexcept
{
    if (this != &other)
        Take(std::exchange(other.image, nullptr), std::move(other.stream));
    return *this;
}

void SkinImage::Reset() noexcept
{
    if (image)
        GdipDisposeImage(image);
    image = nullptr;
    stream.reset();
}

void SkinImage::Take(GpImage* decoded, UniqueStream source) noexcept
{
    Reset();
    image = decoded;
    stream = std::move(source);
}

void SkinImage::LoadFromResource(HMODULE module, UINT id, const wchar_t* type)
{
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (!found)
        return;
    DWORD size = ::SizeofResource(module, found);
    HGLOBAL loaded = ::LoadResource(module, found);
    const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
    if (size == 0 || !bytes)
        return;

    // The stream gets its own copy: CreateStreamOnHGlobal wants movable memory
    // that it frees itself.
    UniqueGlobal block(::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size));
    if (!block)
        return;
    void* target = ::GlobalLock(block.get());
    if (!target)
        return;
    std::memcpy(target, bytes, size);
    ::GlobalUnlock(block.get());

    IStream* created = nullptr;
    if (FAILED(::CreateStreamOnHGlobal(block.get(), TRUE, &created)) || !created)
        return;
    block.release(); // the stream owns it now
    UniqueStream source(created);

    GpImage* decoded = nullptr;
    GdipLoadImageFromStream(source.get(), &decoded);
    if (decoded)
        Take(decoded, std::move(source));
}

SIZE SkinImage::Size() const
{
    SIZE size = {0, 0};
    if (!image)
        return size;
    UINT width = 0, height = 0;
    if (GdipGetImageWidth(image, &width) != Ok)
        width = 0;
    if (GdipGetImageHeight(image, &height) != Ok)
        height = 0;
    size.cx = static_cast<LONG>(width);
    size.cy = static_cast<LONG>(height);
    return size;
}

bool SkinImage::Draw(HDC dc, const RECT& rect) const
{
    GpGraphics* created = nullptr;
    GdipCreateFromHDC(dc, &created);
    UniqueGpGraphics graphics(created);
    return graphics && DrawTo(graphics.get(), rect);
}

bool SkinImage::DrawTo(GpGraphics* graphics, const RECT& rect) const
{
    return GdipDrawImageRectI(graphics, image, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top) ==
           Ok;
}

bool SkinImage::DrawResampled(GpGraphics* graphics, const RECT& rect, bool tiled) const
{
    const SIZE size = Size();
    GdipSetInterpolationMode(graphics, InterpolationModeHighQualityBicubic);
    // Pixel centres on pixel centres: no half-pixel shift of the picture.
    GdipSetPixelOffsetMode(graphics, PixelOffsetModeHalf);
    GpImageAttributes* created = nullptr;
    if (tiled && GdipCreateImageAttributes(&created) == Ok)
        GdipSetImageAttributesWrapMode(created, WrapModeTileFlipY, 0, FALSE);
    UniqueGpImageAttributes attributes(created);
    GpStatus status = GdipDrawImageRectRectI(graphics, image, rect.left, rect.top, rect.right - rect.left,
                                             rect.bottom - rect.top, 0, 0, size.cx, size.cy, UnitPixel,
                                             attributes.get(), nullptr, nullptr);
    // Back to what the program's graphics always use, for what comes next.
    GdipSetInterpolationMode(graphics, InterpolationModeDefault);
    GdipSetPixelOffsetMode(graphics, PixelOffsetModeDefault);
    return status == Ok;
}

#include "ui/ScaledPicture.h"

#include "res/ResourceIds.h"
#include "ui/GdiPlusHandles.h"

int PictureSetFor(SIZE target, SIZE normal)
{
    // Reducing the larger set keeps edges sharp; enlarging the 1x blurs them.
    return target.cx > normal.cx || target.cy > normal.cy ? 2 : 1;
}

void ScaledPicture::Load(UINT pictureId)
{
    id = pictureId;
    normal.LoadFromResource(nullptr, id, L"PNG");
}

const SkinImage& ScaledPicture::Large() const
{
    if (!largeLoaded) {
        largeLoaded = true;
        large.LoadFromResource(nullptr, id + IDP_DOUBLE_SIZE_OFFSET, L"PNG");
    }
    return large.Size().cx > 0 ? large : normal;
}

bool ScaledPicture::DrawTo(GpGraphics* graphics, const RECT& rect, bool tiled) const
{
    const SIZE target = {rect.right - rect.left, rect.bottom - rect.top};
    if (PictureSetFor(target, normal.Size()) == 1)
        return normal.DrawTo(graphics, rect);
    const SkinImage& source = Large();
    const SIZE size = source.Size();
    if (size.cx == target.cx && size.cy == target.cy)
        return source.DrawTo(graphics, rect);
    return source.DrawResampled(graphics, rect, tiled);
}

bool ScaledPicture::Draw(HDC dc, const RECT& rect) const
{
    GpGraphics* created = nullptr;
    GdipCreateFromHDC(dc, &created);
    UniqueGpGraphics graphics(created);
    return graphics && DrawTo(graphics.get(), rect);
}

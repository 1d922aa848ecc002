#pragma once
// A PNG picture of the skin, decoded by GDI+ from a resource,
// with its size and a stretched draw. Move-only: the decoded image and the
// memory stream it was decoded from belong to one SkinImage and go together.

#include "common/UniqueHandle.h"
#include "ui/GdiPlusFlat.h"

namespace handle_close {
inline void ComStream(IStream* s) { s->Release(); }
} // namespace handle_close

using UniqueStream = UniqueHandle<NullNoneTraits<IStream*, handle_close::ComStream>>;

class SkinImage {
public:
    SkinImage() = default;
    ~SkinImage() { Reset(); }
    SkinImage(SkinImage&& other) noexcept;
    SkinImage& operator=(SkinImage&& other) noexcept;
    SkinImage(const SkinImage&) = delete;
    SkinImage& operator=(const SkinImage&) = delete;

    // Module null means the program's own file. A missing or empty resource
    // leaves the image as it was; one that does not decode leaves an image
    // without pixels (size 0 x 0, draws fail).
    void LoadFromResource(HMODULE module, UINT id, const wchar_t* type);

    // 0 x 0 when empty or when GDI+ cannot tell.
    SIZE Size() const;
    // Stretched into the rectangle; true when GDI+ drew it.
    bool Draw(HDC dc, const RECT& rect) const;
    bool DrawTo(GpGraphics* graphics, const RECT& rect) const;
    // Resampled into a rectangle of another size with high-quality
    // interpolation. tiled: the left and right edges wrap around to each
    // other, the top and bottom ones are mirrored (a tile that repeats
    // sideways); otherwise nothing lies beyond the picture's edges.
    bool DrawResampled(GpGraphics* graphics, const RECT& rect, bool tiled) const;

    bool Empty() const { return image == nullptr; }
    // The stream the picture was decoded from (null when empty).
    IStream* Stream() const { return stream.get(); }

private:
    // The image first: GDI+ may read the stream until the image is gone.
    void Reset() noexcept;
    void Take(GpImage* decoded, UniqueStream source) noexcept;

    GpImage* image = nullptr;
    UniqueStream stream;
};

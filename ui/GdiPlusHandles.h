#pragma once
// Owners for GDI+ objects, one alias per kind on the project's UniqueHandle.

#include "common/UniqueHandle.h"
#include "ui/GdiPlusFlat.h"

namespace handle_close {
inline void GpGraphicsObject(GpGraphics* g) { GdipDeleteGraphics(g); }
inline void GpBrushObject(GpBrush* b) { GdipDeleteBrush(b); }
inline void GpFontObject(GpFont* f) { GdipDeleteFont(f); }
inline void GpFontFamilyObject(GpFontFamily* f) { GdipDeleteFontFamily(f); }
inline void GpStringFormatObject(GpStringFormat* f) { GdipDeleteStringFormat(f); }
inline void GpImageAttributesObject(GpImageAttributes* a) { GdipDisposeImageAttributes(a); }
} // namespace handle_close

using UniqueGpGraphics = UniqueHandle<NullNoneTraits<GpGraphics*, handle_close::GpGraphicsObject>>;
using UniqueGpBrush = UniqueHandle<NullNoneTraits<GpBrush*, handle_close::GpBrushObject>>;
using UniqueGpFont = UniqueHandle<NullNoneTraits<GpFont*, handle_close::GpFontObject>>;
using UniqueGpFontFamily = UniqueHandle<NullNoneTraits<GpFontFamily*, handle_close::GpFontFamilyObject>>;
using UniqueGpStringFormat = UniqueHandle<NullNoneTraits<GpStringFormat*, handle_close::GpStringFormatObject>>;
using UniqueGpImageAttributes = UniqueHandle<NullNoneTraits<GpImageAttributes*, handle_close::GpImageAttributesObject>>;

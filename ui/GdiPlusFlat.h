#pragma once
// GDI+ through its flat functions. MinGW-w64 and the Windows SDK both declare
// them in Gdiplus::DllExports and their types in Gdiplus. The program calls
// them as bound from the system folder at their first call
// (common/SystemDll.h): headers get those Gdip* functions and the Gp* handle
// types by name; values and enums (Ok, PointF, SmoothingMode...) stay in
// Gdiplus, so that no global name of the program (a result named Ok)
// collides with them. Source files of the UI open the namespace for
// themselves.

#include <windows.h>
// <gdiplus.h> needs IStream, which WIN32_LEAN_AND_MEAN leaves out.
#include <objidl.h>
#include <gdiplus.h>

#include "common/SystemDll.h"

namespace GdiPlusDll {

inline HMODULE Load()
{
    return LoadSystemDll(L"gdiplus.dll");
}

KOVRA_SYSTEM_FUNCTION(Gdiplus::DllExports, GdipCreateFont);
KOVRA_SYSTEM_FUNCTION(Gdiplus::DllExports, GdipCreateFontFamilyFromName);
KOVRA_SYSTEM_FUNCTION(Gdiplus::DllExports, GdipCreateFromHDC);
KOVRA_SYSTEM_FUNCTION(Gdiplus::DllExports, GdipCreateImageAttributes);
KOVRA_SYSTEM_FUNCTION(Gdiplus::DllExports, GdipCreateLineBrushFromRect);
KOVRA_SYSTEM_FUNCTION(Gdiplus::DllExports, GdipCreateSolidFill);
KOVRA_SYSTEM_FUNCTION(Gdiplus::DllExports, GdipCreateStringFormat);
KOVRA_SYSTEM_FUNCTION(Gdiplus::DllExports, GdipDeleteBrush);
KOVRA_SYSTEM_FUNCTION(Gdiplus::DllExports, GdipDeleteFont);
KOVRA_SYSTEM_FUNCTION(Gdiplus::DllExports, GdipDeleteFontFamily);
KOVRA_SYSTEM_FUNCTION(Gdiplus::DllExports, GdipDeleteGraphics);
KOVRA_SYSTEM_FUNCTION(Gdiplus::DllExports, GdipDeleteStringFormat);
KOVRA_SYSTEM_FUNCTION(Gdiplus::DllExports, GdipDisposeImage);
KOVRA_SYSTEM_FUNCTION(Gdiplus::DllExports, GdipDisposeImageAttributes);
KOVRA_SYSTEM_FUNCTION(Gdiplus::DllExports, GdipDrawImageRectI);
KOVRA_SYSTEM_FUNCTION(Gdiplus::DllExports, GdipDrawImageRectRectI);
KOVRA_SYSTEM_FUNCTION(Gdiplus::DllExports, GdipDrawString);
KOVRA_SYSTEM_FUNCTION(Gdiplus::DllExports, GdipFillRectangle);
KOVRA_SYSTEM_FUNCTION(Gdiplus::DllExports, GdipGetDpiY);
KOVRA_SYSTEM_FUNCTION(Gdiplus::DllExports, GdipGetGenericFontFamilySansSerif);
KOVRA_SYSTEM_FUNCTION(Gdiplus::DllExports, GdipGetImageHeight);
KOVRA_SYSTEM_FUNCTION(Gdiplus::DllExports, GdipGetImageWidth);
KOVRA_SYSTEM_FUNCTION(Gdiplus::DllExports, GdipLoadImageFromStream);
KOVRA_SYSTEM_FUNCTION(Gdiplus::DllExports, GdipMeasureString);
KOVRA_SYSTEM_FUNCTION(Gdiplus::DllExports, GdipSetImageAttributesWrapMode);
KOVRA_SYSTEM_FUNCTION(Gdiplus::DllExports, GdipSetInterpolationMode);
KOVRA_SYSTEM_FUNCTION(Gdiplus::DllExports, GdipSetPixelOffsetMode);
KOVRA_SYSTEM_FUNCTION(Gdiplus::DllExports, GdipSetSmoothingMode);
KOVRA_SYSTEM_FUNCTION(Gdiplus::DllExports, GdipSetStringFormatAlign);
KOVRA_SYSTEM_FUNCTION(Gdiplus::DllExports, GdipSetTextRenderingHint);
KOVRA_SYSTEM_FUNCTION(Gdiplus, GdiplusStartup);
KOVRA_SYSTEM_FUNCTION(Gdiplus, GdiplusShutdown);

} // namespace GdiPlusDll

using namespace GdiPlusDll;
using Gdiplus::GpBitmap;
using Gdiplus::GpBrush;
using Gdiplus::GpFont;
using Gdiplus::GpFontFamily;
using Gdiplus::GpGraphics;
using Gdiplus::GpImage;
using Gdiplus::GpImageAttributes;
using Gdiplus::GpLineGradient;
using Gdiplus::GpSolidFill;
using Gdiplus::GpStatus;
using Gdiplus::GpStringFormat;

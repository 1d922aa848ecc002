#pragma once
// GDI+ through its flat functions. MinGW-w64 and the Windows SDK both declare
// them in Gdiplus::DllExports and their types in Gdiplus. Headers get the
// Gdip* functions and the Gp* handle types by name; values and enums (Ok,
// PointF, SmoothingMode...) stay in Gdiplus, so that no global name of the
// program (a result named Ok) collides with them. Source files of the UI
// open the namespace for themselves.

#include <windows.h>
// <gdiplus.h> needs IStream, which WIN32_LEAN_AND_MEAN leaves out.
#include <objidl.h>
#include <gdiplus.h>

using namespace Gdiplus::DllExports;
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

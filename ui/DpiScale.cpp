#include "ui/DpiScale.h"

int ScaleToDpi(int length, UINT dpi)
{
    return ::MulDiv(length, static_cast<int>(dpi), static_cast<int>(kDesignDpi));
}

SIZE ScaleToDpi(SIZE design, UINT dpi)
{
    return SIZE{ScaleToDpi(design.cx, dpi), ScaleToDpi(design.cy, dpi)};
}

RECT ScaleToDpi(const RECT& design, UINT dpi)
{
    const int left = ScaleToDpi(design.left, dpi);
    const int top = ScaleToDpi(design.top, dpi);
    return RECT{left, top, left + ScaleToDpi(design.right - design.left, dpi),
                top + ScaleToDpi(design.bottom - design.top, dpi)};
}

#pragma once
// Copies a picture without alpha (a control's capture) into a 32-bit
// premultiplied surface so that it shows fully opaque there.

#include <windows.h>

// BitBlt of the width x height corner of source to (x, y) of target (device
// pixels). GDI writes 0 into the alpha byte of a 32-bit DIB section, so when
// target holds one, the copied rectangle's alpha is then set to 255. False
// when the copy failed.
bool CopyOpaque(HDC target, int x, int y, int width, int height, HDC source);

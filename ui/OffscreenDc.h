#pragma once
// Flicker-free drawing: a memory DC over one rectangle of a target DC, copied
// onto the target (SRCCOPY) when the object goes. Coordinates drawn into it
// are those of the target.

#include "common/UniqueHandle.h"

class OffscreenDc {
public:
    OffscreenDc(HDC target, const RECT& area) noexcept;
    ~OffscreenDc();
    OffscreenDc(const OffscreenDc&) = delete;
    OffscreenDc& operator=(const OffscreenDc&) = delete;

    // Null when the memory DC or its bitmap could not be made.
    HDC get() const noexcept { return ready_ ? dc_.get() : nullptr; }

private:
    HDC target_;
    RECT area_;
    UniqueMemoryDc dc_;
    UniqueBitmap bitmap_;
    SelectedObject selection_;
    bool ready_;
};

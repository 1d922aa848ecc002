#include "ui/OffscreenDc.h"

OffscreenDc::OffscreenDc(HDC target, const RECT& area) noexcept
    : target_(target),
      area_(area),
      dc_(target ? ::CreateCompatibleDC(target) : nullptr),
      bitmap_(target && area.right > area.left && area.bottom > area.top
                  ? ::CreateCompatibleBitmap(target, area.right - area.left, area.bottom - area.top)
                  : nullptr),
      selection_(dc_.get(), bitmap_.get()),
      ready_(dc_ && bitmap_)
{
    if (ready_)
        ::SetViewportOrgEx(dc_.get(), -area_.left, -area_.top, nullptr);
}

OffscreenDc::~OffscreenDc()
{
    if (ready_)
        ::BitBlt(target_, area_.left, area_.top, area_.right - area_.left, area_.bottom - area_.top,
                 dc_.get(), area_.left, area_.top, SRCCOPY);
}

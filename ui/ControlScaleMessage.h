#pragma once
// Sent by the skinned window to every control it places, whenever it places
// it: wParam is the DPI the control is shown at. A control that draws
// something of its own size in design pixels (the bar's stripes) keeps it.

#include "ui/RegisteredMessage.h"

inline UINT ControlScaleMessage()
{
    static std::atomic<UINT> cache{0};
    return RegisteredMessage(cache, L"Kovra.ControlScale");
}

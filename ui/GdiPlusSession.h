#pragma once
// GDI+ started for the lifetime of this object. Shut down once, and only when
// start-up gave a real token.

#include "ui/GdiPlusFlat.h"

class GdiPlusSession {
public:
    GdiPlusSession() noexcept
    {
        Gdiplus::GdiplusStartupInput input; // version 1, no debug callback, own background thread
        GdiPlusDll::GdiplusStartup(&token, &input, nullptr);
    }
    ~GdiPlusSession()
    {
        if (token != 0 && token != ~static_cast<ULONG_PTR>(0))
            GdiPlusDll::GdiplusShutdown(token);
        token = 0;
    }
    GdiPlusSession(const GdiPlusSession&) = delete;
    GdiPlusSession& operator=(const GdiPlusSession&) = delete;

private:
    ULONG_PTR token = 0;
};

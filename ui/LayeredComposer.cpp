#include "ui/LayeredComposer.h"

#include "ui/GdiPlusHandles.h"
#include "ui/OpaqueCopy.h"

using namespace Gdiplus;

namespace {

constexpr WPARAM kPrintEverything =
    PRF_CHECKVISIBLE | PRF_NONCLIENT | PRF_CLIENT | PRF_ERASEBKGND | PRF_CHILDREN | PRF_OWNED;

} // namespace

SkinFrame* LayeredComposer::BeginPass()
{
    // The cache and the capture bitmaps serve one build at a time.
    if (painting)
        return nullptr;
    painting = true;
    return shown == &frames[0] ? &frames[1] : &frames[0];
}

bool LayeredComposer::Build(SkinFrame& frame, HWND window, SIZE size, LayeredPainter& source)
{
    if (!RefreshStaticLayers(size, source))
        return false;
    if ((frame.Width() != size.cx || frame.Height() != size.cy) && !frame.Create(size.cx, size.cy))
        return false;
    // Every pixel of the frame is written again: nothing of the last pass stays.
    if (!frame.CopyPixelsFrom(staticLayers))
        return false;
    for (HWND child = ::GetWindow(window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
        DrawChild(frame.Dc(), window, child, source);
    ::GdiFlush();
    return true;
}

bool LayeredComposer::RefreshStaticLayers(SIZE size, LayeredPainter& source)
{
    if (!staticLayersStale && staticLayers.Width() == size.cx && staticLayers.Height() == size.cy && staticLayers.Dc())
        return true;
    GpGraphics* created = nullptr;
    if (staticLayers.Reuse(size.cx, size.cy))
        GdipCreateFromHDC(staticLayers.Dc(), &created);
    UniqueGpGraphics graphics(created);
    if (!graphics)
        return false;
    GdipSetSmoothingMode(graphics.get(), SmoothingModeNone);
    source.DrawStaticLayers(graphics.get(), size);
    graphics.reset();
    ::GdiFlush();
    staticLayersStale = false;
    return true;
}

void LayeredComposer::DrawChild(HDC dc, HWND window, HWND child, LayeredPainter& source)
{
    if (!::IsWindow(child) || !::IsWindowVisible(child))
        return;
    RECT rect = {};
    ::GetWindowRect(child, &rect);
    POINT topLeft = {rect.left, rect.top};
    POINT bottomRight = {rect.right, rect.bottom};
    if (::ScreenToClient(window, &topLeft))
        ::ScreenToClient(window, &bottomRight);
    const int width = bottomRight.x - topLeft.x;
    const int height = bottomRight.y - topLeft.y;
    if (width <= 0 || height <= 0)
        return;

    const RECT where = {topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
    ChildCapture* cached = CaptureOf(child, source);
    MemoryCanvas& canvas = cached ? cached->pixels : capture;
    if (!cached || !cached->current || !::EqualRect(&cached->rect, &where)) {
        if (!canvas.Ensure(width, height))
            return;
        // Black where the child does not paint, as a new bitmap would be.
        HDC captureDc = canvas.Dc();
        ::PatBlt(captureDc, 0, 0, width, height, BLACKNESS);
        // Current from here on: a message that comes while the child prints
        // itself (a state it corrects) makes it stale again.
        if (cached) {
            cached->current = true;
            cached->rect = where;
        }
        const int state = ::SaveDC(captureDc);
        ::SendMessageW(child, WM_PRINT, reinterpret_cast<WPARAM>(captureDc), kPrintEverything);
        if (state)
            ::RestoreDC(captureDc, state);
    }
    // The capture has no alpha: the control shows opaque, as the controls
    // paint their whole rectangle.
    CopyOpaque(dc, topLeft.x, topLeft.y, width, height, canvas.Dc());
}

LayeredComposer::ChildCapture* LayeredComposer::CaptureOf(HWND child, LayeredPainter& source)
{
    // Only a watched child tells when it changes.
    if (!source.Watches(child))
        return nullptr;
    ChildCapture* unused = nullptr;
    for (ChildCapture& entry : captures) {
        if (entry.child == child)
            return &entry;
        if ((!entry.child || !::IsWindow(entry.child)) && !unused)
            unused = &entry;
    }
    if (unused) {
        unused->child = child;
        unused->current = false;
    }
    return unused;
}

void LayeredComposer::ChildChanged(HWND child)
{
    bool known = false;
    for (ChildCapture& entry : captures) {
        if (entry.child == child) {
            entry.current = false;
            known = true;
        }
    }
    // A window below a child, or one gone: any capture may show it.
    if (!known)
        for (ChildCapture& entry : captures)
            entry.current = false;
}

void LayeredComposer::Push(HWND window, const SkinFrame& frame, BYTE alpha)
{
    RECT rect = {};
    ::GetWindowRect(window, &rect);
    POINT destination = {rect.left, rect.top};
    SIZE size = {frame.Width(), frame.Height()};
    POINT source = {0, 0};
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, alpha, AC_SRC_ALPHA};

    const bool partial = shown && shown != &frame && !pushAll && shownAlpha == alpha &&
                         shownAt.x == destination.x && shownAt.y == destination.y;
    RECT dirty = {0, 0, size.cx, size.cy};
    if (partial) {
        dirty = frame.ChangedArea(*shown);
        if (::IsRectEmpty(&dirty)) {
            shown = &frame;
            return;
        }
    }
    UPDATELAYEREDWINDOWINFO info = {sizeof(info), nullptr, &destination, &size, frame.Dc(), &source, 0,
                                    &blend, ULW_ALPHA, partial ? &dirty : nullptr};
    if (::UpdateLayeredWindowIndirect(window, &info)) {
        const bool own = &frame == &frames[0] || &frame == &frames[1];
        shown = own ? &frame : nullptr;
        shownAlpha = alpha;
        shownAt = destination;
        pushAll = false;
    } else {
        shown = nullptr;
    }
}

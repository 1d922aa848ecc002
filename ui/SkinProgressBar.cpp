#include "ui/SkinProgressBar.h"

#include "ui/ControlScaleMessage.h"
#include "ui/DpiScale.h"
#include "ui/GdiPlusHandles.h"
#include "ui/OffscreenDc.h"
#include "ui/StripeLayout.h"

#include <commctrl.h>

using namespace Gdiplus;

namespace {

constexpr ARGB kTrackColour = 0xFFCCCCCC;
constexpr ARGB kFillTopColour = 0xFF00A8FF;
constexpr ARGB kFillBottomColour = 0xFF0070FF;
constexpr LPARAM kMarqueeIntervalMs = 30;

void FillTrack(GpGraphics* graphics, int width, int height)
{
    GpSolidFill* track = nullptr;
    GdipCreateSolidFill(kTrackColour, &track);
    UniqueGpBrush trackBrush(track);
    GdipFillRectangle(graphics, trackBrush.get(), 0.0f, 0.0f, static_cast<REAL>(width), static_cast<REAL>(height));
}

} // namespace

SkinProgressBar::SkinProgressBar(UINT tileId)
{
    tile.Load(tileId);
}

int SkinProgressBar::Offset() const
{
    return ScaleToDpi(offset, dpi);
}

int SkinProgressBar::TileWidth() const
{
    return ScaleToDpi(tile.DesignSize().cx, dpi);
}

void SkinProgressBar::SwitchToStripes()
{
    HWND bar = Window();
    if (!bar)
        return;
    ::SetWindowLongPtrW(bar, GWL_STYLE, ::GetWindowLongPtrW(bar, GWL_STYLE) | PBS_MARQUEE);
    ::SendMessageW(bar, PBM_SETMARQUEE, TRUE, kMarqueeIntervalMs);
    ::SetTimer(bar, kSwitchTimer, 0, nullptr);
    marquee = true;
}

MessageResult SkinProgressBar::OnMessage(UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_PRINT:
        Paint(reinterpret_cast<HDC>(wParam));
        return Handled(0);
    case WM_PAINT:
        // Nothing drawn into the window shows: the composition prints the
        // bar once this paint is over.
        ::ValidateRect(Window(), nullptr);
        return Handled(0);
    case WM_ERASEBKGND:
        return Handled(1);
    case WM_TIMER:
        if (wParam == kSwitchTimer) {
            ::KillTimer(Window(), kSwitchTimer);
            ::SetTimer(Window(), kStripeTimer, kStripePeriodMs, nullptr);
            return Handled(0);
        }
        if (wParam == kStripeTimer) {
            Tick();
            return Handled(0);
        }
        return NotHandled();
    default:
        if (message == ControlScaleMessage() && IsMonitorDpi(wParam)) {
            dpi = static_cast<UINT>(wParam);
            stripWidth = 0; // tiles of another width
            return Handled(0);
        }
        return NotHandled();
    }
}

void SkinProgressBar::Paint(HDC dc)
{
    if (!dc)
        return;
    RECT client = {};
    ::GetClientRect(Window(), &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    // The stripes are one copy from the strip: that needs no buffer.
    if (marquee && PaintStripes(dc, width, height))
        return;

    // The whole bar, not only the paint area: the picture is small and GDI+
    // then never sees a shifted viewport.
    OffscreenDc offscreen(dc, client);
    GpGraphics* created = nullptr;
    GdipCreateFromHDC(offscreen.get(), &created);
    UniqueGpGraphics graphics(created);
    if (!graphics)
        return;
    FillTrack(graphics.get(), width, height);
    // Stripes without a strip to copy from (no tile width, no memory): the
    // bare track.
    if (marquee)
        return;

    PBRANGE range = {};
    ::SendMessageW(Window(), PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
    const auto position = static_cast<unsigned>(::SendMessageW(Window(), PBM_GETPOS, 0, 0));
    const REAL fill = FillWidth(position, range.iHigh, width);
    if (fill <= 0.0f)
        return;
    RectF area(0.0f, 0.0f, fill, static_cast<REAL>(height));
    GpLineGradient* gradient = nullptr;
    GdipCreateLineBrushFromRect(&area, kFillTopColour, kFillBottomColour, LinearGradientModeVertical, WrapModeTile,
                                &gradient);
    UniqueGpBrush fillBrush(gradient);
    if (fillBrush)
        GdipFillRectangle(graphics.get(), fillBrush.get(), area.X, area.Y, area.Width, area.Height);
}

bool SkinProgressBar::PaintStripes(HDC dc, int width, int height)
{
    const int tileWidth = TileWidth();
    if (tileWidth <= 0 || width <= 0 || height <= 0)
        return false;
    if ((stripWidth != width || stripHeight != height) && !BuildStrip(width, height, tileWidth))
        return false;
    return ::BitBlt(dc, 0, 0, width, height, strip.Dc(), StripPhase(Offset(), tileWidth), 0, SRCCOPY) != FALSE;
}

bool SkinProgressBar::BuildStrip(int width, int height, int tileWidth)
{
    stripWidth = stripHeight = 0;
    const int length = width + tileWidth;
    if (!strip.Ensure(length, height))
        return false;
    GpGraphics* created = nullptr;
    GdipCreateFromHDC(strip.Dc(), &created);
    UniqueGpGraphics graphics(created);
    if (!graphics)
        return false;
    // The track, then whole tiles from the strip's left edge.
    FillTrack(graphics.get(), length, height);
    ForEachStripeTile(0, length, tileWidth, [&](int left) {
        tile.DrawTo(graphics.get(), RECT{left, 0, left + tileWidth, height}, true);
    });
    stripWidth = width;
    stripHeight = height;
    return true;
}

void SkinProgressBar::Tick()
{
    RECT client = {};
    ::GetClientRect(Window(), &client);
    offset = NextStripeOffset(offset, client.right - client.left, dpi);
    ::InvalidateRect(Window(), nullptr, TRUE);
}

#include "ui/SkinProgressBar.h"

#include "ui/ControlScaleMessage.h"
#include "ui/DpiScale.h"
#include "ui/GdiPlusHandles.h"
#include "ui/OffscreenDc.h"
#include "ui/PaintScope.h"
#include "ui/RegisteredMessage.h"
#include "ui/StripeLayout.h"

#include <commctrl.h>

using namespace Gdiplus;

namespace {

constexpr ARGB kTrackColour = 0xFFCCCCCC;
constexpr ARGB kFillTopColour = 0xFF00A8FF;
constexpr ARGB kFillBottomColour = 0xFF0070FF;
constexpr LPARAM kMarqueeIntervalMs = 30;

UINT SwitchMessage()
{
    static std::atomic<UINT> cache{0};
    return RegisteredMessage(cache, L"Kovra.SkinProgressBar.SwitchToStripes");
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
    // Asked here: the message only rings, since any program can send it.
    switchAsked = true;
    if (::GetWindowThreadProcessId(bar, nullptr) == ::GetCurrentThreadId())
        SwitchHere();
    else
        ::SendMessageW(bar, SwitchMessage(), 0, 0);
}

void SkinProgressBar::SwitchHere()
{
    HWND bar = Window();
    ::SetWindowLongPtrW(bar, GWL_STYLE, ::GetWindowLongPtrW(bar, GWL_STYLE) | PBS_MARQUEE);
    ::SendMessageW(bar, PBM_SETMARQUEE, TRUE, kMarqueeIntervalMs);
    ::SetTimer(bar, kSwitchTimer, 0, nullptr);
    marquee = true;
}

MessageResult SkinProgressBar::OnMessage(UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_PAINT:
    case WM_PRINT:
        BufferedPaint(reinterpret_cast<HDC>(wParam));
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
        if (message == SwitchMessage()) {
            if (switchAsked && !marquee)
                SwitchHere();
            return Handled(0);
        }
        if (message == ControlScaleMessage() && IsMonitorDpi(wParam)) {
            dpi = static_cast<UINT>(wParam);
            stripWidth = 0; // tiles of another width
            return Handled(0);
        }
        return NotHandled();
    }
}

void SkinProgressBar::BufferedPaint(HDC given)
{
    RECT client = {};
    ::GetClientRect(Window(), &client);
    // The stripes are one copy from the strip: that needs no buffer. A print
    // leaves the update region alone: the paint that is due comes anyway.
    if (given) {
        if (marquee) {
            DrawBar(given);
            return;
        }
        OffscreenDc offscreen(given, client);
        DrawBar(offscreen.get());
        return;
    }
    // Nothing drawn into the window of a layered window that is updated as a
    // whole is shown; it shows the bar through its composition, which
    // captures the bar with WM_PRINT once this paint is over.
    if (InLayeredWindow()) {
        ::ValidateRect(Window(), nullptr);
        return;
    }
    PaintScope paint(Window());
    if (marquee) {
        DrawBar(paint.Dc());
        return;
    }
    // The whole bar, not only the paint area: the picture is small and GDI+
    // then never sees a shifted viewport.
    OffscreenDc offscreen(paint.Dc(), client);
    DrawBar(offscreen.get());
}

bool SkinProgressBar::InLayeredWindow() const
{
    HWND window = Window();
    while (window && (::GetWindowLongPtrW(window, GWL_STYLE) & WS_CHILD))
        window = ::GetParent(window);
    return window && (::GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_LAYERED);
}

void SkinProgressBar::PaintBar(HDC dc)
{
    if (!dc)
        return;
    // Drawing the whole bar answers any pending paint.
    ::ValidateRect(Window(), nullptr);
    DrawBar(dc);
}

void SkinProgressBar::DrawBar(HDC dc)
{
    if (!dc)
        return;
    RECT client = {};
    ::GetClientRect(Window(), &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    if (marquee && PaintStripes(dc, width, height))
        return;

    GpGraphics* created = nullptr;
    GdipCreateFromHDC(dc, &created);
    UniqueGpGraphics graphics(created);
    if (!graphics)
        return;

    GpSolidFill* track = nullptr;
    GdipCreateSolidFill(kTrackColour, &track);
    UniqueGpBrush trackBrush(track);
    GdipFillRectangle(graphics.get(), trackBrush.get(), 0.0f, 0.0f, static_cast<REAL>(width),
                      static_cast<REAL>(height));

    if (marquee) {
        const int tileWidth = TileWidth();
        ForEachStripeTile(Offset(), width, tileWidth, [&](int left) {
            tile.DrawTo(graphics.get(), RECT{left, 0, left + tileWidth, height}, true);
        });
        return;
    }

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
    // Drawn as the bar itself would draw it: the track, then the tiles.
    GpSolidFill* track = nullptr;
    GdipCreateSolidFill(kTrackColour, &track);
    UniqueGpBrush trackBrush(track);
    GdipFillRectangle(graphics.get(), trackBrush.get(), 0.0f, 0.0f, static_cast<REAL>(length),
                      static_cast<REAL>(height));
    for (int left = 0; left < length; left += tileWidth)
        tile.DrawTo(graphics.get(), RECT{left, 0, left + tileWidth, height}, true);
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

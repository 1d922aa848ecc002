#include "ui/ControlLayout.h"

#include "res/ResourceIds.h"
#include "ui/DpiScale.h"
#include "ui/ImageButton.h"
#include "ui/LayeredSkinWindow.h"
#include "ui/SkinProgressBar.h"

#include <commctrl.h>

namespace {

constexpr int kEdgeMargin = 30;    // panel edge to the buttons and the bar
constexpr int kButtonTop = 20;
constexpr int kButtonGap = 20;
constexpr int kBarHeight = 9;

// The height of the dialog's font made as the dialog manager makes it at 96
// DPI; 0 when it cannot be had.
int DialogFontHeightAt96(HWND dialog, UINT dpi)
{
    const auto font = reinterpret_cast<HFONT>(::SendMessageW(dialog, WM_GETFONT, 0, 0));
    LOGFONTW face = {};
    if (!font || !::GetObjectW(font, sizeof(face), &face))
        return 0;
    // Back to the template's points, then to pixels at 96 DPI.
    const int points = ::MulDiv(face.lfHeight < 0 ? -face.lfHeight : face.lfHeight, 72, static_cast<int>(dpi));
    face.lfHeight = -::MulDiv(points, kDesignDpi, 72);
    UniqueFont at96(::CreateFontIndirectW(&face));
    WindowDc screen(nullptr);
    if (!at96 || !screen.get())
        return 0;
    SelectedObject selected(screen.get(), at96.get());
    TEXTMETRICW metrics = {};
    return ::GetTextMetricsW(screen.get(), &metrics) ? metrics.tmHeight : 0;
}

} // namespace

SkinControlRects ComputeControlRects(int clientWidth, SIZE glyph, int barTop)
{
    const int w = glyph.cx;
    const int h = glyph.cy;
    SkinControlRects rects;
    rects.close = RECT{clientWidth - kEdgeMargin - w, kButtonTop, clientWidth - kEdgeMargin, kButtonTop + h};
    rects.minimise = RECT{clientWidth - kEdgeMargin - kButtonGap - 2 * w, kButtonTop,
                          clientWidth - kEdgeMargin - kButtonGap - w, kButtonTop + h};
    rects.bar = RECT{kEdgeMargin, barTop, clientWidth - kEdgeMargin, barTop + kBarHeight};
    return rects;
}

int TemplateTopAt96(int top, int baseUnit, int baseUnitAt96)
{
    if (baseUnit <= 0 || baseUnitAt96 <= 0)
        return top;
    // Dialog units are exact: the placed top is within half a pixel of them.
    return ::MulDiv(::MulDiv(top, 8, baseUnit), baseUnitAt96, 8);
}

void LayOutSkinControls(LayeredSkinWindow& dialog, ImageButton& minimise, ImageButton& close, SkinProgressBar& bar)
{
    HWND window = dialog.Window();
    const UINT dpi = dialog.Dpi();
    // The bar keeps the top edge the template gives it at 96 DPI.
    RECT barRect = {};
    ::GetWindowRect(bar.Window(), &barRect);
    POINT barTop = {barRect.left, barRect.top};
    ::ScreenToClient(window, &barTop);
    if (dpi != kDesignDpi) {
        RECT unit = {0, 0, 0, 8};
        ::MapDialogRect(window, &unit);
        barTop.y = TemplateTopAt96(barTop.y, unit.bottom, DialogFontHeightAt96(window, dpi));
    }

    close.SetImages(IDP_CLOSE_NORMAL, IDP_CLOSE_PRESSED, IDP_CLOSE_HOVER);
    RECT glyph = close.ImageRect();
    SkinControlRects rects = ComputeControlRects(dialog.DesignSize().cx, SIZE{glyph.right, glyph.bottom}, barTop.y);
    dialog.PlaceControl(close.Window(), rects.close);

    minimise.SetImages(IDP_MINIMISE_NORMAL, IDP_MINIMISE_PRESSED, IDP_MINIMISE_HOVER);
    dialog.PlaceControl(minimise.Window(), rects.minimise);

    ::SendMessageW(bar.Window(), PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    ::SendMessageW(bar.Window(), PBM_SETPOS, 0, 0);
    dialog.PlaceControl(bar.Window(), rects.bar);

    dialog.SetWindowIcons(IDI_KOVRA);
}

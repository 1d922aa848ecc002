#include "ui/ControlLayout.h"

#include "res/ResourceIds.h"
#include "ui/ImageButton.h"
#include "ui/LayeredSkinWindow.h"
#include "ui/SkinProgressBar.h"

#include <commctrl.h>

namespace {

constexpr int kEdgeMargin = 30;    // panel edge to the buttons and the bar
constexpr int kButtonTop = 20;
constexpr int kButtonGap = 20;
constexpr int kBarHeight = 9;

void MoveTo(HWND control, const RECT& rect)
{
    ::MoveWindow(control, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
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

void LayOutSkinControls(LayeredSkinWindow& dialog, ImageButton& minimise, ImageButton& close, SkinProgressBar& bar)
{
    HWND window = dialog.Window();
    RECT client = {};
    ::GetClientRect(window, &client);
    // The bar keeps the top edge the template gave it.
    RECT barRect = {};
    ::GetWindowRect(bar.Window(), &barRect);
    POINT barTop = {barRect.left, barRect.top};
    ::ScreenToClient(window, &barTop);

    close.SetImages(IDP_CLOSE_NORMAL, IDP_CLOSE_PRESSED, IDP_CLOSE_HOVER);
    RECT glyph = close.ImageRect();
    SkinControlRects rects =
        ComputeControlRects(client.right - client.left, SIZE{glyph.right, glyph.bottom}, barTop.y);
    MoveTo(close.Window(), rects.close);

    minimise.SetImages(IDP_MINIMISE_NORMAL, IDP_MINIMISE_PRESSED, IDP_MINIMISE_HOVER);
    MoveTo(minimise.Window(), rects.minimise);

    ::SendMessageW(bar.Window(), PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    ::SendMessageW(bar.Window(), PBM_SETPOS, 0, 0);
    MoveTo(bar.Window(), rects.bar);

    dialog.SetWindowIcons(IDI_KOVRA);
}

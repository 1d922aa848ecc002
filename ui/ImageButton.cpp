#include "ui/ImageButton.h"

#include "common/UniqueHandle.h"
#include "ui/NotificationReflection.h"
#include "ui/ComCtl32Dll.h"
#include "ui/OffscreenDc.h"

#include <commctrl.h>
#include <windowsx.h>

namespace {
// The panel under the buttons; the capture of the button carries no alpha.
constexpr COLORREF kPanelColour = RGB(247, 247, 247);
} // namespace

GlyphLook ChooseGlyph(bool selected, bool hover)
{
    if (selected)
        return GlyphLook::Pressed;
    return hover ? GlyphLook::Hover : GlyphLook::Normal;
}

void ImageButton::SetImages(UINT normalId, UINT pressedId, UINT hoverId)
{
    normalImage.Load(normalId);
    pressedImage.Load(pressedId);
    hoverImage.Load(hoverId);
}

RECT ImageButton::ImageRect() const
{
    SIZE size = normalImage.DesignSize();
    return RECT{0, 0, size.cx, size.cy};
}

MessageResult ImageButton::OnMessage(UINT message, WPARAM, LPARAM lParam)
{
    switch (message) {
    case WM_DRAWITEM + kReflectedMessageOffset:
        return Handled(lParam ? Draw(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)) : 0);
    case WM_DESTROY:
        return Handled(0);
    case WM_ERASEBKGND:
        return Handled(1);
    case WM_LBUTTONDOWN:
        if (hover) {
            TRACKMOUSEEVENT track = {sizeof(track), TME_CANCEL | TME_LEAVE, Window(), 0};
            if (ComCtl32Dll::_TrackMouseEvent(&track))
                hover = false;
        }
        pressed = true;
        return NotHandled();
    case WM_LBUTTONUP:
        pressed = false;
        return NotHandled();
    case WM_MOUSEMOVE:
        OnMouseMove(lParam);
        return NotHandled();
    case WM_MOUSELEAVE:
        hover = false;
        Redraw();
        return Handled(0);
    case WM_KILLFOCUS:
        if (::GetCapture() == Window()) {
            ::ReleaseCapture();
            pressed = false;
        }
        return NotHandled();
    default:
        return NotHandled();
    }
}

LRESULT ImageButton::Draw(const DRAWITEMSTRUCT& item)
{
    OffscreenDc offscreen(item.hDC, item.rcItem);
    HDC dc = offscreen.get();
    if (!dc)
        return 0;
    UniqueBrush panel(::CreateSolidBrush(kPanelColour));
    ::FillRect(dc, &item.rcItem, panel.get());

    // While pressed, the pushed look follows the pointer: a change redraws
    // the button and this pass draws no glyph.
    POINT cursor;
    if (pressed && ::GetCapture() == Window() && ::GetCursorPos(&cursor)) {
        bool over = ::WindowFromPoint(cursor) == Window();
        if (over != ShownPushed()) {
            ::SendMessageW(Window(), BM_SETSTATE, over ? TRUE : FALSE, 0);
            return -1;
        }
    }

    const ScaledPicture* glyph = &normalImage;
    switch (ChooseGlyph((item.itemState & ODS_SELECTED) != 0, hover)) {
    case GlyphLook::Pressed:
        glyph = &pressedImage;
        break;
    case GlyphLook::Hover:
        glyph = &hoverImage;
        break;
    case GlyphLook::Normal:
        break;
    }
    glyph->Draw(dc, item.rcItem);
    return 0;
}

void ImageButton::OnMouseMove(LPARAM lParam)
{
    if (pressed && ::GetCapture() == Window()) {
        POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        ::ClientToScreen(Window(), &point);
        bool over = ::WindowFromPoint(point) == Window();
        if (over != ShownPushed()) {
            ::SendMessageW(Window(), BM_SETSTATE, over ? TRUE : FALSE, 0);
            Redraw();
        }
        return;
    }
    if (!hover) {
        TRACKMOUSEEVENT track = {sizeof(track), TME_LEAVE, Window(), 0};
        if (ComCtl32Dll::_TrackMouseEvent(&track)) {
            hover = true;
            Redraw();
        }
    }
}

bool ImageButton::ShownPushed() const
{
    return (::SendMessageW(Window(), BM_GETSTATE, 0, 0) & BST_PUSHED) != 0;
}

void ImageButton::Redraw()
{
    ::InvalidateRect(Window(), nullptr, TRUE);
}

#include "tools/skin-preview/PreviewDialog.h"

#include "res/ResourceIds.h"
#include "ui/CaptionDrawing.h"
#include "ui/ControlLayout.h"

#include <commctrl.h>

#include <cwchar>

void PreviewDialog::ShowDownloading(int percent)
{
    ::SendMessageW(bar.Window(), PBM_SETPOS, static_cast<WPARAM>(percent), 0);
    wchar_t text[16];
    std::swprintf(text, 16, L"%d%%", percent);
    ::SetWindowTextW(Window(), text);
}

void PreviewDialog::ShowInstalling()
{
    ShowDownloading(100);
    // The same hand-over the loader makes: on the window's thread, the bar
    // first, then the caption.
    auto handOver = [this] {
        bar.SwitchToStripes();
        caption = L"У С Т А Н О В К А";
    };
    RunOnWindowThread(handOver);
}

MessageResult PreviewDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND && LOWORD(wParam) == IDC_MINIMISE_BUTTON) {
        ::ShowWindow(Window(), SW_SHOWMINIMIZED);
        return Handled(0);
    }
    // Unlike the loader, closing the preview ends it.
    if ((message == WM_COMMAND && LOWORD(wParam) == IDC_CLOSE_BUTTON) || message == WM_CLOSE) {
        ::DestroyWindow(Window());
        return Handled(0);
    }
    if (message == WM_DESTROY)
        ::PostQuitMessage(0);
    return LayeredSkinWindow::OnMessage(message, wParam, lParam);
}

void PreviewDialog::InitControls()
{
    minimise.Attach(Window(), IDC_MINIMISE_BUTTON);
    close.Attach(Window(), IDC_CLOSE_BUTTON);
    bar.Attach(Window(), IDC_PROGRESS_BAR);
    LayOutSkinControls(*this, minimise, close, bar);
}

void PreviewDialog::DrawBeforeChildren(GpGraphics* graphics)
{
    DrawCaption(graphics, caption, Window(), Dpi());
}

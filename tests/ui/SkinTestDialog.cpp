#include "tests/ui/SkinTestDialog.h"

#include "ui/ControlLayout.h"

SkinTestDialog::SkinTestDialog(UINT tileId) : bar(tileId) {}

SkinTestDialog::~SkinTestDialog()
{
    Destroy();
}

bool SkinTestDialog::Create(HWND owner)
{
    if (!PrepareBinding())
        return false;
    HWND created = ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_KOVRA_LOADER), owner,
                                        &LayeredSkinWindow::DialogProc, 0);
    if (!created)
        CancelBinding();
    return created != nullptr;
}

void SkinTestDialog::Destroy()
{
    if (Window())
        ::DestroyWindow(Window());
}

MessageResult SkinTestDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    messages.push_back(message);
    switch (message) {
    case WM_PAINT:
        ++paintMessages;
        break;
    case WM_COMMAND:
        commands.push_back(LOWORD(wParam));
        break;
    case WM_NCLBUTTONDOWN:
        if (wParam == HTCAPTION) {
            ++moveRequests;
            if (swallowMoveRequests)
                return Handled(0);
        }
        break;
    default:
        break;
    }
    return LayeredSkinWindow::OnMessage(message, wParam, lParam);
}

void SkinTestDialog::InitControls()
{
    minimise.Attach(Window(), IDC_MINIMISE_BUTTON);
    close.Attach(Window(), IDC_CLOSE_BUTTON);
    bar.Attach(Window(), IDC_PROGRESS_BAR);
    LayOutSkinControls(*this, minimise, close, bar);
}

void SkinTestDialog::DrawBeforeChildren(GpGraphics* graphics)
{
    ++staticDraws;
    captionDrawn = DrawCaption(graphics, caption.c_str(), Window(), Dpi(), fonts);
}

void SkinTestDialog::DrawAfterChildren(GpGraphics*)
{
    ++passes;
    if (duringPass)
        duringPass();
}

void SkinTestDialog::PushFrame(const SkinFrame& frame)
{
    ++pushes;
    pushedAlphas.push_back(Alpha());
    if (keepPushed) {
        lastPushed.clear();
        for (int y = 0; y < frame.Height(); ++y)
            for (int x = 0; x < frame.Width(); ++x)
                lastPushed.push_back(frame.Pixel(x, y));
    }
    LayeredSkinWindow::PushFrame(frame);
}

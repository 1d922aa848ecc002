#include "app/LoaderDialog.h"

#include "FixedHosts.h"
#include "app/PhaseCaptions.h"
#include "app/WorkingPaths.h"
#include "ui/CaptionDrawing.h"
#include "ui/ControlLayout.h"

#include "app/ProgressText.h"

#include <commctrl.h>
#include <process.h>

namespace {

const int kMinimiseButtonId = 1016;
const int kCloseButtonId = 1017;
const int kProgressBarId = 1009;

// Sent by the worker as its last act: ends the dialog on its own thread.
const UINT kEndJobMessage = WM_APP + 1;

} // namespace

LoaderDialog::LoaderDialog(const PublisherKeyPin& pin)
    : caption(kDownloadingCaption),
      publisherPin(pin),
      installerUrl(std::wstring(L"http://") + KOVRA_DOWNLOAD_HOST + L"/KovraInstallerD1.exe"),
      targetPath(ChooseTargetPath(GetTempDirectory(), GetOwnPath()))
{
}

LoaderDialog::~LoaderDialog() = default;

MessageResult LoaderDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        // The notification code is not looked at: any click counts.
        if (LOWORD(wParam) == kMinimiseButtonId) {
            ::ShowWindow(Window(), SW_SHOWMINIMIZED);
            return Handled(0);
        }
        if (LOWORD(wParam) == kCloseButtonId) {
            ::ShowWindow(Window(), SW_HIDE);
            return Handled(0);
        }
        break;
    case WM_CLOSE:
        ::ShowWindow(Window(), SW_HIDE);
        return Handled(0);
    case kEndJobMessage:
        ::EndDialog(Window(), static_cast<INT_PTR>(static_cast<int>(wParam)));
        return Handled(0);
    case kShowProgressMessage:
        ShowProgress(static_cast<int>(wParam));
        return Handled(0);
    default:
        break;
    }
    return LayeredSkinWindow::OnMessage(message, wParam, lParam);
}

void LoaderDialog::DrawBeforeChildren(GpGraphics* graphics)
{
    DrawCaption(graphics, caption, Window(), Dpi());
}

void LoaderDialog::InitControls()
{
    minimiseButton.Attach(Window(), kMinimiseButtonId);
    closeButton.Attach(Window(), kCloseButtonId);
    progressBar.Attach(Window(), kProgressBarId);
    LayOutSkinControls(*this, minimiseButton, closeButton, progressBar);

    workerThread.reset(reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, WorkerThread, this, 0, nullptr)));
    // Without a worker nothing would ever end the dialog.
    if (!workerThread)
        ::EndDialog(Window(), kWorkerNotStarted);
}

void LoaderDialog::ShowProgress(int percent)
{
    ::SetWindowTextW(Window(), ProgressWindowText(percent).c_str());
    ::SendMessageW(progressBar.Window(), PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}

void LoaderDialog::EndJob(int result)
{
    // The entry destroys this object as soon as the dialog has returned, so
    // this is the worker's last touch of it.
    HWND window = Window();
    if (::IsWindow(window))
        ::SendMessageW(window, kEndJobMessage, static_cast<WPARAM>(result), 0);
}

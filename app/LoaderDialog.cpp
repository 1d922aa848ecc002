#include "app/LoaderDialog.h"

#include "FixedHosts.h"
#include "app/PhaseCaptions.h"
#include "app/WorkingPaths.h"
#include "ui/CaptionDrawing.h"
#include "ui/ControlLayout.h"

#include "app/ProgressText.h"
#include "stats/StatsReporter.h"
#include "ui/RegisteredMessage.h"

#include <commctrl.h>
#include <process.h>

namespace {

const int kMinimiseButtonId = 1016;
const int kCloseButtonId = 1017;
const int kProgressBarId = 1009;

} // namespace

UINT LoaderDialog::ShowProgressMessage()
{
    static std::atomic<UINT> cache{0};
    return RegisteredMessage(cache, L"Kovra.LoaderDialog.ShowProgress");
}

LoaderDialog::LoaderDialog(const PublisherKeyPin& pin)
    : caption(kDownloadingCaption),
      publisherPin(pin),
      installerUrl(std::wstring(L"http://") + KOVRA_DOWNLOAD_HOST + L"/KovraInstallerD1.exe"),
      targetPath(ChooseTargetPath(GetTempDirectory(), GetOwnPath())),
      downloader(ReportRenameFailed)
{
}

LoaderDialog::~LoaderDialog()
{
    WaitForJob();
}

int LoaderDialog::WaitForJob()
{
    // The window is gone by now, so the worker's window steps fail at once
    // instead of waiting for this thread.
    if (workerThread) {
        ::WaitForSingleObject(workerThread.get(), INFINITE);
        workerThread.reset();
    }
    return jobResult;
}

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
    default:
        break;
    }
    if (message == ShowProgressMessage()) {
        // Only a ring: any program can send it, and it shows again what the
        // worker asked for last.
        const int percent = percentToShow;
        if (percent >= 0)
            ShowProgress(percent);
        return Handled(0);
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
    jobResult = result;
    auto end = [this, result] { ::EndDialog(Window(), result); };
    RunOnWindowThread(end);
}

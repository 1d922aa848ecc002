#include "app/LoaderDialog.h"

#include "app/ProgressText.h"
#include "common/ComApartment.h"
#include "common/WinInetDll.h"
#include "ui/ControlLayout.h"

#include <commctrl.h>
#include <process.h>

namespace {

const DWORD kFullBarPauseMs = 100;
const int kMaxProxyPrompts = 3;
// With a position in progressToShow: the window text shows it too.
const int kWithText = 0x100;

} // namespace

LoaderDialog::LoaderDialog(std::unique_ptr<LoaderJob> work, const CaptionFonts& captionFonts, UINT stripeTile)
    : progressBar(stripeTile), fonts(captionFonts), job(std::move(work))
{
}

LoaderDialog::~LoaderDialog()
{
    WaitForJob();
}

int LoaderDialog::WaitForJob()
{
    // The window is gone by now, so the worker's hand-overs fail at once
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
        if (LOWORD(wParam) == IDC_MINIMISE_BUTTON) {
            ::ShowWindow(Window(), SW_SHOWMINIMIZED);
            return Handled(0);
        }
        if (LOWORD(wParam) == IDC_CLOSE_BUTTON) {
            HideForGood();
            return Handled(0);
        }
        break;
    case WM_CLOSE:
        HideForGood();
        return Handled(0);
    case WM_WINDOWPOSCHANGING:
        // The modal loop shows the dialog the first time its queue runs
        // empty, also after a close taken before that: the show is refused
        // here, where SetWindowPos lets a window change what it is asked.
        if (hiddenForGood)
            reinterpret_cast<WINDOWPOS*>(lParam)->flags &= ~SWP_SHOWWINDOW;
        break;
    default:
        break;
    }
    return LayeredSkinWindow::OnMessage(message, wParam, lParam);
}

void LoaderDialog::HideForGood()
{
    hiddenForGood = true;
    ::ShowWindow(Window(), SW_HIDE);
}

void LoaderDialog::DrawBeforeChildren(GpGraphics* graphics)
{
    DrawCaption(graphics, caption, Window(), Dpi(), fonts);
}

void LoaderDialog::InitControls()
{
    minimiseButton.Attach(Window(), IDC_MINIMISE_BUTTON);
    closeButton.Attach(Window(), IDC_CLOSE_BUTTON);
    progressBar.Attach(Window(), IDC_PROGRESS_BAR);
    LayOutSkinControls(*this, minimiseButton, closeButton, progressBar);

    workerThread.reset(reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, WorkerThread, this, 0, nullptr)));
    // Without a worker nothing would ever end the dialog.
    if (!workerThread)
        ::EndDialog(Window(), kWorkerNotStarted);
}

unsigned __stdcall LoaderDialog::WorkerThread(void* dialog)
{
    // The job hands the installer and text pages to ShellExecuteEx, which
    // may pass them on to COM-based handlers, so the thread that calls it
    // initialises COM: apartment-threaded, OLE1 DDE off.
    const ComApartment apartment(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    auto* self = static_cast<LoaderDialog*>(dialog);
    self->EndJob(self->job->Run(self->display));
    return 0;
}

void LoaderDialog::EndJob(int result)
{
    jobResult = result;
    // EndDialog ends the modal loop of the thread that calls it: the window's.
    auto end = [this, result] { ::EndDialog(Window(), result); };
    RunOnWindowThread(end);
}

void LoaderDialog::UpdateProgress(uint32_t doneBytes, uint32_t totalBytes)
{
    if (totalBytes == kUnknownTotal) {
        // No total: the bar steps on from where it stands, every chunk, and
        // no longer shows the text's percentage.
        barPosition = ProgressPercent(doneBytes, totalBytes, barPosition);
        shownPercent = -1;
        progressToShow = barPosition;
    } else {
        // An update that would show the same text and bar again is not
        // handed over at all.
        const int percent = ProgressPercent(doneBytes, totalBytes, 0);
        if (!IsShownPercent(percent) || percent == shownPercent)
            return;
        shownPercent = barPosition = percent;
        progressToShow = percent | kWithText;
    }
    // Not waited for: the window's thread may be busy with a pass, and
    // waiting for it would hold up the download.
    PostToWindowThread(progressTask);
}

void LoaderDialog::ShowProgress(void* dialog)
{
    auto* self = static_cast<LoaderDialog*>(dialog);
    const int shown = self->progressToShow;
    if (shown < 0)
        return;
    if (shown & kWithText)
        ::SetWindowTextW(self->Window(), ProgressWindowText(shown & ~kWithText).c_str());
    ::SendMessageW(self->progressBar.Window(), PBM_SETPOS, static_cast<WPARAM>(shown & ~kWithText), 0);
}

void LoaderDialog::ShowInstallingLook(uint32_t totalBytes)
{
    // The last update: the file is whole, so without a total that is all of
    // it too. It is waited for (a hand-over still queued would show it after
    // the look), and the full bar stays a moment before the look changes.
    const int percent = totalBytes == kUnknownTotal ? 100 : ProgressPercent(totalBytes, totalBytes, 0);
    if (IsShownPercent(percent))
        progressToShow = percent | kWithText;
    auto showFull = [this] { ShowProgress(this); };
    if (!RunOnWindowThread(showFull))
        return;
    ::Sleep(kFullBarPauseMs);
    // Composition reads the bar's look and the caption on the window's
    // thread, and timers attach only to windows of their thread: both change
    // there.
    auto handOver = [this] {
        progressBar.SwitchToStripes();
        caption = kInstallingCaption;
    };
    RunOnWindowThread(handOver);
}

bool LoaderDialog::AskForProxyCredentials(HINTERNET request)
{
    // Asked again only when the proxy refused what was typed, three times
    // at most; never again after a cancel.
    if (proxyPromptCancelled || proxyPrompts >= kMaxProxyPrompts)
        return false;
    ++proxyPrompts;
    DWORD answer = ERROR_CANCELLED;
    // The system's own prompt, owned by the loader's window: a window is
    // made on its owner's thread, whose loop then runs the prompt's. The
    // request waits here meanwhile, so only that thread uses it.
    auto prompt = [this, request, &answer] {
        answer = WinInetDll::InternetErrorDlg(Window(), request, ERROR_INTERNET_INCORRECT_PASSWORD,
                                    FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_GENERATE_DATA |
                                        FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS,
                                    nullptr);
    };
    // Only "send it again" counts as typed (Windows answers a cancel with
    // ERROR_CANCELLED, Wine with 0).
    if (RunOnWindowThread(prompt) && answer == ERROR_INTERNET_FORCE_RETRY)
        return true;
    proxyPromptCancelled = true;
    return false;
}

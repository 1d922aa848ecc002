#include "app/LoaderDialog.h"

#include "app/PhaseCaptions.h"
#include "app/ProgressText.h"
#include "app/RetrySchedule.h"
#include "app/TextPageUrl.h"
#include "common/ComApartment.h"
#include "stats/StatsReporter.h"

#include <commctrl.h>
#include <shellapi.h>

namespace {

const DWORD kFullBarPauseMs = 100;
const int kMaxProxyPrompts = 3;

// Opens a page the server showed in place of the installer in the user's
// browser. The loader ends right after: the launch must be complete before
// this returns, which only ShellExecuteEx can be asked for.
void OpenInBrowser(const wchar_t* url)
{
    SHELLEXECUTEINFOW open{};
    open.cbSize = sizeof open;
    open.fMask = SEE_MASK_NOASYNC;
    open.lpVerb = L"open";
    open.lpFile = url;
    open.nShow = SW_SHOWDEFAULT;
    ::ShellExecuteExW(&open);
}

} // namespace

unsigned __stdcall LoaderDialog::WorkerThread(void* dialog)
{
    // The shell may hand ShellExecuteEx to COM-based handlers, so the thread
    // that calls it initialises COM: apartment-threaded, OLE1 DDE off.
    const ComApartment apartment(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    if (dialog)
        static_cast<LoaderDialog*>(dialog)->RunJob();
    return 0;
}

void LoaderDialog::RunJob()
{
    DownloadWorker();
    EndJob(textPageAnswered ? kTextPageOpened : kJobEnded);
}

void LoaderDialog::DownloadWorker()
{
    // Without a usable target (no temporary folder or no own name) the
    // installer would land under a name it is never run from, and every
    // attempt would fail the same way: give up at once.
    if (targetPath.empty())
        return;
    auto attempt = [this] {
        const int result = downloader.Download(installerUrl.c_str(), targetPath.c_str(), OnDownloadEvent, this);
        return textPageAnswered ? kAttemptsStopped : result;
    };
    auto pause = [](uint32_t ms) { ::Sleep(ms); };
    if (RetryAttempts(attempt, pause) != DownloadResult::Ok)
        return;

    if (::IsWindow(Window())) {
        doneBytes = totalBytes;
        UpdateProgress(true);
        ::Sleep(kFullBarPauseMs);
        ShowInstallingLook();
    }
    ReportDownloaded();
    const int code = RunInstaller();
    if (textPageAnswered)
        return;
    ReportFinished(code);
}

bool LoaderDialog::OnDownloadEvent(void* context, int event, void* data)
{
    LoaderDialog* self = static_cast<LoaderDialog*>(context);
    switch (event) {
    case DownloadEvent::TotalSize:
        // -1 (no total announced) reads as all ones: unknown.
        self->totalBytes = static_cast<uint32_t>(*static_cast<const int*>(data));
        return true;
    case DownloadEvent::Progress:
        if (::IsWindow(self->Window())) {
            self->doneBytes = static_cast<uint32_t>(*static_cast<const int*>(data));
            self->UpdateProgress();
        }
        return true;
    case DownloadEvent::TextContent: {
        // The server shows a page instead of the installer: show it to the
        // user and stop. Its URL comes from the server, so only a web page is
        // ever handed to the shell.
        const wchar_t* url = static_cast<const wchar_t*>(data);
        if (IsWebPageUrl(url))
            OpenInBrowser(url);
        self->textPageAnswered = true;
        return false;
    }
    case DownloadEvent::ProxyAuthRequired: {
        ProxyChallenge* challenge = static_cast<ProxyChallenge*>(data);
        challenge->sendAgain = self->AskForProxyCredentials(challenge->request);
        return true;
    }
    default:
        return true;
    }
}

void LoaderDialog::UpdateProgress(bool waitUntilShown)
{
    HWND window = Window();
    if (!::IsWindow(window))
        return;
    HWND bar = progressBar.Window();
    if (totalBytes == kUnknownTotal && !waitUntilShown) {
        // No total: the bar steps on from where it stands, every chunk, and
        // no longer shows the text's percentage.
        const int position = static_cast<int>(::SendMessageW(bar, PBM_GETPOS, 0, 0));
        ::SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(ProgressPercent(doneBytes, totalBytes, position)), 0);
        shownPercent = -1;
        return;
    }
    // The last update comes once the file is whole: without a total, that
    // is all of it too.
    const int percent = totalBytes == kUnknownTotal ? 100 : ProgressPercent(doneBytes, totalBytes, 0);
    // An update that would show the same text and bar again is not rung at
    // all, and the others are posted: a message sent across threads waits
    // for the window to redraw, which would hold up the download.
    if (!IsShownPercent(percent) || (percent == shownPercent && !waitUntilShown))
        return;
    shownPercent = percent;
    percentToShow = percent;
    if (!waitUntilShown) {
        ::PostMessageW(window, ShowProgressMessage(), 0, 0);
        return;
    }
    // A ring still queued behind other messages would show it after what
    // the worker does next.
    auto show = [this] { ShowProgress(percentToShow); };
    RunOnWindowThread(show);
}

void LoaderDialog::ShowInstallingLook()
{
    // Composition reads the bar's look and the caption on the window's
    // thread, so both change there.
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
        answer = ::InternetErrorDlg(Window(), request, ERROR_INTERNET_INCORRECT_PASSWORD,
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

#include "app/InstallerJob.h"

#include "FixedHosts.h"
#include "app/InstallerLaunch.h"
#include "app/ProgressText.h"
#include "app/RetrySchedule.h"
#include "app/TextPageUrl.h"
#include "app/WorkingPaths.h"
#include "stats/StatsReporter.h"

#include <shellapi.h>
#include <shlwapi.h>

namespace {

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

InstallerJob::InstallerJob(const PublisherKeyPin& pin)
    : publisherPin(pin),
      installerUrl(WideString(L"http://") + KOVRA_DOWNLOAD_HOST + L"/KovraInstallerD1.exe"),
      targetPath(ChooseTargetPath(GetTempDirectory(), GetOwnPath())),
      downloader(ReportRenameFailed)
{
}

int InstallerJob::Run(JobDisplay& shown)
{
    display = &shown;
    DownloadWorker();
    return textPageAnswered ? kTextPageOpened : kJobEnded;
}

void InstallerJob::DownloadWorker()
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

    display->ShowInstallingLook(totalBytes);
    ReportDownloaded();
    const int code = RunInstaller();
    if (textPageAnswered)
        return;
    ReportFinished(code);
}

bool InstallerJob::OnDownloadEvent(void* context, int event, void* data)
{
    InstallerJob* self = static_cast<InstallerJob*>(context);
    switch (event) {
    case DownloadEvent::TotalSize:
        // -1 (no total announced) reads as all ones: unknown.
        self->totalBytes = static_cast<uint32_t>(*static_cast<const int*>(data));
        return true;
    case DownloadEvent::Progress:
        self->display->UpdateProgress(static_cast<uint32_t>(*static_cast<const int*>(data)), self->totalBytes);
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
        challenge->sendAgain = self->display->AskForProxyCredentials(challenge->request);
        return true;
    }
    default:
        return true;
    }
}

int InstallerJob::RunInstaller()
{
    if (!::PathFileExistsW(targetPath.c_str()))
        return SecondPass();
    return LaunchInstaller(targetPath, publisherPin);
}

// The second pass: the installer was gone between its download and its
// launch (something removed it). The whole sequence runs once more, nested in
// this one, a bounded number of times. Its own "downloaded" and "finished"
// events come first; this pass then reports "finished" with exit code 0.
int InstallerJob::SecondPass()
{
    if (installerReruns >= kMaxInstallerReruns)
        return ERROR_FILE_NOT_FOUND;
    ++installerReruns;
    DownloadWorker();
    return 0;
}

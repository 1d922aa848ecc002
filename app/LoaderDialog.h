#pragma once
// The loader's only window and the owner of its whole job: it downloads the
// installer on a worker thread, retrying with growing pauses, shows the
// progress, switches to the installing look, runs the installer and reports
// the events. The user cannot stop the job: closing only hides the window.

#include "app/PublisherKeyPin.h"
#include "common/UniqueHandle.h"
#include "net/HttpDownloader.h"
#include "ui/ImageButton.h"
#include "ui/LayeredSkinWindow.h"
#include "ui/SkinProgressBar.h"

#include <atomic>
#include <cstdint>
#include <string>

class LoaderDialog : public LayeredSkinWindow {
public:
    // Loads the skin, fixes the target path and opens the internet session.
    // With a pin, only an installer signed by that publisher is run.
    explicit LoaderDialog(const PublisherKeyPin& pin);
    // Waits for the job (WaitForJob): the worker uses this object to its end.
    ~LoaderDialog() override;

    // Waits until the worker has ended and returns the job's ending value.
    // The modal loop may end before the job does (any program can post the
    // window a WM_QUIT); the job then goes on unseen, as after a close.
    int WaitForJob();

    // Ending values of the dialog (the process exit code).
    static const int kJobEnded = 1;
    static const int kTextPageOpened = 0;
    static const int kWorkerNotStarted = -1;

    // Sets by which a missing installer is downloaded again before the loader
    // gives up on it (a file removed as soon as it appears would otherwise
    // nest downloads without end).
    static const int kMaxInstallerReruns = 3;

protected:
    MessageResult OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void DrawBeforeChildren(GpGraphics* graphics) override;
    void InitControls() override;

private:
    // Rings the window to show percentToShow.
    static UINT ShowProgressMessage();
    static unsigned __stdcall WorkerThread(void* dialog);
    // The whole job on the worker thread; its last act ends the dialog.
    void RunJob();
    // Download attempts with their pauses, then the installing phase; it
    // returns early when the job must stop at once (a text page was
    // answered, textPageAnswered) or the attempts ran out.
    void DownloadWorker();
    static bool OnDownloadEvent(void* context, int event, void* data);
    // The system's prompt for the proxy's credentials, for a request the
    // proxy refused; true when the request is to go again with them.
    bool AskForProxyCredentials(HINTERNET request);
    // The bar and the window text for doneBytes of totalBytes; the last
    // update, once the file is whole, shows 100 % also without a total and
    // waits until the window shows it.
    void UpdateProgress(bool waitUntilShown = false);
    // On the window's thread: the window text and the bar for a percentage.
    void ShowProgress(int percent);
    int RunInstaller();
    void ShowInstallingLook();
    void EndJob(int result);

    ImageButton minimiseButton;
    ImageButton closeButton;
    SkinProgressBar progressBar;
    uint32_t totalBytes = 0;
    uint32_t doneBytes = 0;
    // Read by every composition pass; replaced on the window's thread.
    std::wstring caption;
    const PublisherKeyPin publisherPin;
    const std::wstring installerUrl;
    const std::wstring targetPath;
    HttpDownloader downloader;
    UniqueKernelHandle workerThread;
    // The job's ending value: set by the worker before it ends the dialog.
    int jobResult = kWorkerNotStarted;
    // What the progress ring shows; -1 before the first percentage.
    std::atomic<int> percentToShow{-1};

    // Worker thread only. -1: nothing shown, or the bar has moved since.
    int shownPercent = -1;
    bool textPageAnswered = false;
    int installerReruns = 0;
    int proxyPrompts = 0;
    bool proxyPromptCancelled = false;
};

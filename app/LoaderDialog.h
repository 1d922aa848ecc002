#pragma once
// The loader's only window and the owner of its whole job: it runs the job on
// a worker thread and shows what the job tells it (JobDisplay): the
// progress, the installing look, the proxy's prompt. The user cannot stop the
// job: closing only hides the window.

#include "app/LoaderJob.h"
#include "app/PhaseCaptions.h"
#include "res/ResourceIds.h"
#include "ui/CaptionDrawing.h"
#include "ui/ImageButton.h"
#include "ui/LayeredSkinWindow.h"
#include "ui/SkinProgressBar.h"

#include <atomic>
#include <memory>

class LoaderDialog : public LayeredSkinWindow {
public:
    // Starts job on the worker thread once the window exists. The caption's
    // fonts and the stripe tile are the program's own unless told otherwise.
    explicit LoaderDialog(std::unique_ptr<LoaderJob> job, const CaptionFonts& fonts = DefaultCaptionFonts(),
                          UINT stripeTile = IDP_STRIPE_TILE);
    // Waits for the job (WaitForJob): the worker uses this object to its end.
    ~LoaderDialog() override;

    // Waits until the worker has ended and returns the job's ending value.
    // The modal loop may end before the job does (any program can post the
    // window a WM_QUIT); the job then goes on unseen, as after a close.
    int WaitForJob();

    // The ending value when no worker could be started.
    static const int kWorkerNotStarted = -1;

protected:
    MessageResult OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void DrawBeforeChildren(GpGraphics* graphics) override;
    void InitControls() override;

    ImageButton minimiseButton;
    ImageButton closeButton;
    SkinProgressBar progressBar;

private:
    // The whole job on the worker thread; its last act ends the dialog.
    static unsigned __stdcall WorkerThread(void* dialog);
    void EndJob(int result);
    // The close button and the close command: nothing shows the window again.
    void HideForGood();

    // What the job has the window show (JobDisplay), on the worker thread.
    // The last update, once the file is whole, shows 100 % also without a
    // total and waits until the window shows it.
    void UpdateProgress(uint32_t doneBytes, uint32_t totalBytes);
    void ShowInstallingLook(uint32_t totalBytes);
    bool AskForProxyCredentials(HINTERNET request);
    struct Display : JobDisplay {
        explicit Display(LoaderDialog& owner) : dialog(owner) {}
        void UpdateProgress(uint32_t done, uint32_t total) override { dialog.UpdateProgress(done, total); }
        void ShowInstallingLook(uint32_t total) override { dialog.ShowInstallingLook(total); }
        bool AskForProxyCredentials(HINTERNET request) override { return dialog.AskForProxyCredentials(request); }
        LoaderDialog& dialog;
    };
    // On the window's thread: the bar, and the window text with it, as the
    // worker asked for last.
    static void ShowProgress(void* dialog);

    const CaptionFonts fonts;
    // Read by every composition pass; replaced on the window's thread.
    const wchar_t* caption = kDownloadingCaption;
    std::unique_ptr<LoaderJob> job;
    Display display{*this};
    UniqueKernelHandle workerThread;
    // The job's ending value: set by the worker before it ends the dialog.
    int jobResult = kWorkerNotStarted;
    // What ShowProgress shows: the bar's position, with kWithText when the
    // window text shows it too; -1 before anything.
    std::atomic<int> progressToShow{-1};
    WindowTasks::Task progressTask = {&ShowProgress, this, nullptr, false, false};

    // Worker thread only. -1: nothing shown, or the bar has moved since.
    int shownPercent = -1;
    int barPosition = 0;
    int proxyPrompts = 0;
    bool proxyPromptCancelled = false;

    // Window thread only.
    bool hiddenForGood = false;
};

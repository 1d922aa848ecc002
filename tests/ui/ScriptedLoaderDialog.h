#pragma once
// The loader's own dialog with a job the test scripts, made modeless from
// template 130 of this program, and what the tests look at recorded around
// the dialog's own handling.

#include "app/LoaderDialog.h"
#include "common/UniqueHandle.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// Runs on the dialog's worker thread as the loader's job does: each step the
// test hands it, until the test lets it end.
class ScriptedJob : public LoaderJob {
public:
    // Runs step(display) on the job's thread while this thread pumps its
    // messages; false when it did not end within timeoutMs (a bound on a
    // hang: a step of 200 hand-overs took over 20 s emulated beside other
    // tests). A step the job has not begun by then never runs; one it has
    // begun runs on its own copy.
    bool Do(std::function<void(JobDisplay&)> step, DWORD timeoutMs = 120000);
    void Finish();
    int Run(JobDisplay& display) override;

private:
    struct Step {
        std::function<void(JobDisplay&)> run;
        std::atomic<bool> done{false};
    };
    UniqueKernelHandle wake{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    SRWLOCK lock = SRWLOCK_INIT;
    std::shared_ptr<Step> pending; // under lock
    std::atomic<bool> finished{false};
};

class ScriptedLoaderDialog : public LoaderDialog {
public:
    explicit ScriptedLoaderDialog(const CaptionFonts& fonts = DefaultCaptionFonts(), UINT tileId = IDP_STRIPE_TILE);
    ~ScriptedLoaderDialog() override;

    // Modeless, from template 130 of this program; false when it failed.
    bool Create(HWND owner = nullptr);
    void Destroy();
    // Pumps messages until the fade-in has ended; false when it stalled.
    bool FadedIn();

    ScriptedJob& job;
    ImageButton& minimise = minimiseButton;
    ImageButton& close = closeButton;
    SkinProgressBar& bar = progressBar;

    // How often the static layers were drawn.
    int staticDraws = 0;
    // What happened, in order.
    std::vector<UINT> messages;
    std::vector<int> pushedAlphas;
    std::vector<WORD> commands;
    // Passes that built a frame for the window; each hands it to PushFrame.
    int passes = 0;
    int pushes = 0;
    // Set: every pushed frame is copied here (top row first).
    bool keepPushed = false;
    std::vector<std::uint32_t> lastPushed;
    int paintMessages = 0;
    std::atomic<int> moveRequests{0}; // read by the thread that moves the pointer
    // Called in the middle of every pass (the frame built, not yet pushed).
    std::function<void()> duringPass;

protected:
    MessageResult OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void DrawBeforeChildren(GpGraphics* graphics) override;
    void PushFrame(const SkinFrame& frame) override;

private:
    ScriptedLoaderDialog(ScriptedJob* job, const CaptionFonts& fonts, UINT tileId);
};

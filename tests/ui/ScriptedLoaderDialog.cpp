#include "tests/ui/ScriptedLoaderDialog.h"

#include "common/SrwLock.h"
#include "tests/ui/UiTestSupport.h"

bool ScriptedJob::Do(std::function<void(JobDisplay&)> run, DWORD timeoutMs)
{
    auto step = std::make_shared<Step>();
    step->run = std::move(run);
    {
        SrwExclusive held(lock);
        pending = step;
    }
    ::SetEvent(wake.get());
    if (uitest::PumpUntil([&step] { return step->done.load(); }, timeoutMs))
        return true;
    SrwExclusive held(lock);
    if (pending == step)
        pending.reset();
    return false;
}

void ScriptedJob::Finish()
{
    finished = true;
    ::SetEvent(wake.get());
}

int ScriptedJob::Run(JobDisplay& display)
{
    while (!finished) {
        ::WaitForSingleObject(wake.get(), INFINITE);
        std::shared_ptr<Step> step;
        {
            SrwExclusive held(lock);
            step.swap(pending);
        }
        if (step) {
            step->run(display);
            step->done = true;
        }
    }
    return kJobEnded;
}

ScriptedLoaderDialog::ScriptedLoaderDialog(const CaptionFonts& fonts, UINT tileId)
    : ScriptedLoaderDialog(new ScriptedJob, fonts, tileId)
{
}

ScriptedLoaderDialog::ScriptedLoaderDialog(ScriptedJob* job, const CaptionFonts& fonts, UINT tileId)
    : LoaderDialog(std::unique_ptr<LoaderJob>(job), fonts, tileId), job(*job)
{
}

ScriptedLoaderDialog::~ScriptedLoaderDialog()
{
    Destroy();
    // The dialog waits for its worker, which ends with the job.
    job.Finish();
}

bool ScriptedLoaderDialog::Create(HWND owner)
{
    if (!PrepareBinding())
        return false;
    HWND created = ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_KOVRA_LOADER), owner,
                                        &LayeredSkinWindow::DialogProc, 0);
    if (!created)
        CancelBinding();
    return created != nullptr;
}

bool ScriptedLoaderDialog::FadedIn()
{
    // The fade's thread rings every 10 ms; each step comes however slowly
    // this machine composes it, and one that never comes is a stalled fade.
    for (int alpha = Alpha(); alpha < 255; alpha = Alpha())
        if (!uitest::PumpUntil([this, alpha] { return Alpha() != alpha; }, 5000))
            return false;
    return true;
}

void ScriptedLoaderDialog::Destroy()
{
    if (Window())
        ::DestroyWindow(Window());
}

MessageResult ScriptedLoaderDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    messages.push_back(message);
    if (message == WM_PAINT)
        ++paintMessages;
    if (message == WM_COMMAND)
        commands.push_back(LOWORD(wParam));
    if (message == WM_NCLBUTTONDOWN && wParam == HTCAPTION)
        ++moveRequests;
    return LoaderDialog::OnMessage(message, wParam, lParam);
}

void ScriptedLoaderDialog::DrawBeforeChildren(GpGraphics* graphics)
{
    ++staticDraws;
    LoaderDialog::DrawBeforeChildren(graphics);
}

void ScriptedLoaderDialog::PushFrame(const SkinFrame& frame)
{
    ++passes;
    if (duringPass)
        duringPass();
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

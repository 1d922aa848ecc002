#include "tests/ui/ScriptedLoaderDialog.h"

#include "tests/ui/UiTestSupport.h"

ScriptedJob::ScriptedJob() : wake(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

ScriptedJob::~ScriptedJob()
{
    ::CloseHandle(wake);
}

bool ScriptedJob::Do(const std::function<void(JobDisplay&)>& step, DWORD timeoutMs)
{
    done = false;
    pending = &step;
    ::SetEvent(wake);
    return uitest::PumpUntil([this] { return done.load(); }, timeoutMs);
}

void ScriptedJob::Finish()
{
    finished = true;
    ::SetEvent(wake);
}

int ScriptedJob::Run(JobDisplay& display)
{
    while (!finished) {
        ::WaitForSingleObject(wake, INFINITE);
        if (const std::function<void(JobDisplay&)>* step = pending.exchange(nullptr)) {
            (*step)(display);
            done = true;
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

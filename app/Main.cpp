// The loader's entry: one loader per session, GDI+ around everything that
// draws, the run event, then the one modal dialog; its result is the exit code.

#include "PinnedPublisher.h"
#include "app/InstallerJob.h"
#include "app/LoaderDialog.h"
#include "app/SystemDllSearch.h"
#include "stats/StatsReporter.h"
#include "stats/StatsSender.h"
#include "ui/ComCtl32Dll.h"
#include "ui/GdiPlusSession.h"

#include <commctrl.h>

namespace {

const int kAnotherLoaderRuns = 0;
const int kDialogFailed = -1;
const WORD kDialogTemplate = 130;

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    // Before anything loads a DLL that is not linked at start.
    RestrictDllSearchToSystem();

    // Without a namespace prefix the name lives in the user's session.
    UniqueKernelHandle mutex(::CreateMutexW(nullptr, FALSE, L"KOVRALOADERV2"));
    if (::GetLastError() == ERROR_ALREADY_EXISTS)
        return kAnotherLoaderRuns;

    // The template's progress bar is a common control of version 6.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    ComCtl32Dll::InitCommonControlsEx(&controls);

    int result;
    {
        GdiPlusSession gdiplus;
        // Queued: the window does not wait for its answer.
        ReportRun();
        LoaderDialog dialog(std::make_unique<InstallerJob>(ParsePublisherKeyPin(KOVRA_PUBLISHER_KEY_SHA256)));
        HWND owner = ::GetActiveWindow();
        if (!dialog.PrepareBinding()) {
            ::SetLastError(ERROR_OUTOFMEMORY);
            result = kDialogFailed;
        } else {
            if (::DialogBoxParamW(instance, MAKEINTRESOURCEW(kDialogTemplate), owner, LayeredSkinWindow::DialogProc,
                                  0) == kDialogFailed)
                dialog.CancelBinding();
            // Not the dialog's value: a WM_QUIT from any program ends the
            // modal loop too, and the job still goes on to its own end.
            result = dialog.WaitForJob();
        }
    }
    // The window is gone; the events still queued get one statistics
    // time-out in all, then whatever is left ends with the process.
    FinishStatsEvents();
    return result;
}

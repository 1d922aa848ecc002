#include "app/LoaderDialog.h"

#include "app/WorkingPaths.h"

#include <shellapi.h>
#include <shlwapi.h>

int LoaderDialog::RunInstaller()
{
    if (!::PathFileExistsW(targetPath.c_str())) {
        // Gone between the download and now: download it again, a bounded
        // number of times.
        if (installerReruns >= kMaxInstallerReruns)
            return ERROR_FILE_NOT_FOUND;
        ++installerReruns;
        DownloadWorker();
        return 0;
    }

    const std::wstring directory = GetDirectoryPart(targetPath);
    SHELLEXECUTEINFOW launch{};
    launch.cbSize = sizeof launch;
    // No error box of the shell's: nobody may be there to close it, and the
    // job would wait for it for ever. A refused launch reports its code.
    launch.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    launch.lpVerb = L"open";
    launch.lpFile = targetPath.c_str();
    launch.lpParameters = L"--no-gui --only-kovra-icon";
    launch.lpDirectory = directory.c_str();
    launch.nShow = SW_HIDE;
    if (!::ShellExecuteExW(&launch))
        return static_cast<int>(::GetLastError());

    UniqueKernelHandle process(launch.hProcess);
    if (process)
        ::WaitForSingleObject(process.get(), INFINITE);
    ::DeleteFileW(targetPath.c_str());
    DWORD exitCode = 0;
    if (process && !::GetExitCodeProcess(process.get(), &exitCode))
        exitCode = 0;
    return static_cast<int>(exitCode);
}

#include "app/InstallerLaunch.h"

#include "app/InstallerSignature.h"
#include "app/WorkingPaths.h"
#include "common/UniqueHandle.h"

#include <objbase.h>
#include <shellapi.h>

namespace {

const int kHoldAttempts = 20;
const DWORD kHoldRetryMs = 100;

// The installer file, open for reading with only readers beside us: from
// now until the installer has started nobody can write, rename or delete it,
// so what is checked is what runs. Something that still has it open for
// writing (a scanner looking at the fresh file) is waited for a little.
UniqueFileHandle HoldInstaller(const WideString& path, DWORD& error)
{
    for (int attempt = 1;; ++attempt) {
        UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        error = file ? ERROR_SUCCESS : ::GetLastError();
        if (error != ERROR_SHARING_VIOLATION || attempt == kHoldAttempts)
            return file;
        ::Sleep(kHoldRetryMs);
    }
}

// Waits for handle for as long as it takes. This thread is a COM apartment
// and the shell may have made windows on it: the COM wait keeps handling the
// messages sent to it meanwhile, where a plain wait would hold up every
// program that broadcasts one.
void WaitInApartment(HANDLE handle)
{
    DWORD index = 0;
    if (FAILED(::CoWaitForMultipleHandles(0, INFINITE, 1, &handle, &index)))
        ::WaitForSingleObject(handle, INFINITE);
}

} // namespace

int LaunchInstaller(const WideString& path, const PublisherKeyPin& pin)
{
    DWORD holdError = ERROR_SUCCESS;
    UniqueFileHandle held = HoldInstaller(path, holdError);
    if (!held)
        return static_cast<int>(holdError);
    if (pin.state != PublisherKeyPin::State::None) {
        const LONG verdict = VerifyPublisherSignature(held.get(), path.c_str(), pin);
        if (verdict != ERROR_SUCCESS) {
            // Not ours, or not what was signed: never run, and not left
            // lying around for anyone to start.
            held.reset();
            ::DeleteFileW(path.c_str());
            return static_cast<int>(verdict);
        }
    }

    const WideString directory = GetDirectoryPart(path);
    SHELLEXECUTEINFOW launch{};
    launch.cbSize = sizeof launch;
    // No error box of the shell's: nobody may be there to close it, and the
    // job would wait for it for ever. A refused launch reports its code.
    // No asynchronous hand-over either: this thread waits for what started.
    launch.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    launch.lpVerb = L"open";
    launch.lpFile = path.c_str();
    launch.lpParameters = L"--no-gui --only-kovra-icon";
    launch.lpDirectory = directory.c_str();
    launch.nShow = SW_HIDE;
    const bool launched = ::ShellExecuteExW(&launch) != FALSE;
    const DWORD launchError = launched ? ERROR_SUCCESS : ::GetLastError();
    // The installer's process now has its image open (or never will).
    held.reset();
    if (!launched)
        return static_cast<int>(launchError);

    UniqueKernelHandle process(launch.hProcess);
    if (process)
        WaitInApartment(process.get());
    ::DeleteFileW(path.c_str());
    DWORD exitCode = 0;
    if (process && !::GetExitCodeProcess(process.get(), &exitCode))
        exitCode = 0;
    return static_cast<int>(exitCode);
}

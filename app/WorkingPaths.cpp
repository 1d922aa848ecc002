#include "app/WorkingPaths.h"

#include "common/UniqueHandle.h"

#include <windows.h>
#include <shlwapi.h>

#include <vector>

WideString GetTempDirectory()
{
    std::vector<wchar_t> buffer(261);
    for (;;) {
        const DWORD length = ::GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length == 0)
            return WideString();
        if (length < buffer.size())
            return WideString(buffer.data(), length);
        // Too long for the buffer: the call gave the size it needs.
        buffer.resize(length + 1);
    }
}

WideString GetOwnPath(size_t firstBufferChars)
{
    std::vector<wchar_t> buffer(firstBufferChars ? firstBufferChars : 1);
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return WideString();
        // A cut path fills the buffer completely.
        if (length < buffer.size())
            return WideString(buffer.data(), length);
        if (buffer.size() >= 32768 * 2)
            return WideString();
        buffer.resize(buffer.size() * 2);
    }
}

WideString GetDirectoryPart(const WideString& path)
{
    const wchar_t* fileName = ::PathFindFileNameW(path.c_str());
    if (!fileName || !*fileName)
        return WideString();
    // Everything before the file-name part itself: the same name occurring
    // earlier in the path (C:\a.exe\a.exe) must not cut the folder short.
    return path.substr(0, static_cast<size_t>(fileName - path.c_str()));
}

WideString MakeTargetPath(const WideString& tempDirectory, const WideString& ownFileName)
{
    if (tempDirectory.empty() || ownFileName.empty())
        return WideString();
    return tempDirectory + ownFileName;
}

namespace {

// Volume and file index of an existing file; false when it cannot be opened.
bool FileIdentity(const WideString& path, BY_HANDLE_FILE_INFORMATION& info)
{
    UniqueFileHandle file(::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && ::GetFileInformationByHandle(file.get(), &info);
}

} // namespace

bool IsSameFile(const WideString& path, const WideString& ownPath)
{
    if (::CompareStringOrdinal(path.c_str(), -1, ownPath.c_str(), -1, TRUE) == CSTR_EQUAL)
        return true;
    BY_HANDLE_FILE_INFORMATION a, b;
    return FileIdentity(path, a) && FileIdentity(ownPath, b) && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

WideString ChooseTargetPath(const WideString& tempDirectory, const WideString& ownPath)
{
    const WideString ownName = ownPath.empty() ? WideString() : WideString(::PathFindFileNameW(ownPath.c_str()));
    const WideString target = MakeTargetPath(tempDirectory, ownName);
    if (target.empty() || !IsSameFile(target, ownPath))
        return target;
    for (const wchar_t* name : {kInstallerFallbackName, kInstallerSecondFallbackName}) {
        const WideString fallback = tempDirectory + name;
        if (!IsSameFile(fallback, ownPath))
            return fallback;
    }
    return WideString();
}

#include "app/WorkingPaths.h"

#include "common/UniqueHandle.h"

#include <windows.h>
#include <shlwapi.h>

#include <vector>

std::wstring GetTempDirectory()
{
    std::vector<wchar_t> buffer(261);
    for (;;) {
        const DWORD length = ::GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length == 0)
            return std::wstring();
        if (length < buffer.size())
            return std::wstring(buffer.data(), length);
        // Too long for the buffer: the call gave the size it needs.
        buffer.resize(length + 1);
    }
}

std::wstring GetOwnPath(size_t firstBufferChars)
{
    std::vector<wchar_t> buffer(firstBufferChars ? firstBufferChars : 1);
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return std::wstring();
        // A cut path fills the buffer completely.
        if (length < buffer.size())
            return std::wstring(buffer.data(), length);
        if (buffer.size() >= 32768 * 2)
            return std::wstring();
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring GetDirectoryPart(const std::wstring& path)
{
    const wchar_t* fileName = ::PathFindFileNameW(path.c_str());
    if (!fileName || !*fileName)
        return std::wstring();
    // Everything before the file-name part itself: the same name occurring
    // earlier in the path (C:\a.exe\a.exe) must not cut the folder short.
    return path.substr(0, static_cast<size_t>(fileName - path.c_str()));
}

std::wstring MakeTargetPath(const std::wstring& tempDirectory, const std::wstring& ownFileName)
{
    if (tempDirectory.empty() || ownFileName.empty())
        return std::wstring();
    return tempDirectory + ownFileName;
}

namespace {

// Volume and file index of an existing file; false when it cannot be opened.
bool FileIdentity(const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info)
{
    UniqueFileHandle file(::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && ::GetFileInformationByHandle(file.get(), &info);
}

} // namespace

bool IsSameFile(const std::wstring& path, const std::wstring& ownPath)
{
    if (::CompareStringOrdinal(path.c_str(), -1, ownPath.c_str(), -1, TRUE) == CSTR_EQUAL)
        return true;
    BY_HANDLE_FILE_INFORMATION a, b;
    return FileIdentity(path, a) && FileIdentity(ownPath, b) && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

std::wstring ChooseTargetPath(const std::wstring& tempDirectory, const std::wstring& ownPath)
{
    const std::wstring ownName = ownPath.empty() ? std::wstring() : std::wstring(::PathFindFileNameW(ownPath.c_str()));
    const std::wstring target = MakeTargetPath(tempDirectory, ownName);
    if (target.empty() || !IsSameFile(target, ownPath))
        return target;
    for (const wchar_t* name : {kInstallerFallbackName, kInstallerSecondFallbackName}) {
        const std::wstring fallback = tempDirectory + name;
        if (!IsSameFile(fallback, ownPath))
            return fallback;
    }
    return std::wstring();
}

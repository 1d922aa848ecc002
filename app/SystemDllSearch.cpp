#include "app/SystemDllSearch.h"

#include <string>

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace {

// The DLLs the program delay-loads (the kovra_delay_load lists of
// app/CMakeLists.txt). The others it links are known DLLs, which Windows
// always takes from the system folder. Not comctl32: the manifest sends it
// to version 6 in the side-by-side store, ahead of any folder, and version
// 5 from the system folder must not be the one bound.
const wchar_t* const kDelayLoadedDlls[] = {L"wininet.dll", L"gdiplus.dll", L"crypt32.dll", L"wintrust.dll"};

} // namespace

HMODULE LoadSystemDll(const wchar_t* name)
{
    wchar_t folder[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return nullptr;
    std::wstring path(folder, length);
    if (path.back() != L'\\')
        path += L'\\';
    path += name;
    return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void RestrictDllSearchToSystem()
{
    // Looked up rather than imported, so that the loader still starts where
    // the function does not exist.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void (*)()>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return;
    ::SetDllDirectoryW(L"");
    // A module loaded once by its full path is the one every later load by
    // its bare name gets, the delay-load helper's included.
    for (const wchar_t* name : kDelayLoadedDlls)
        LoadSystemDll(name);
}

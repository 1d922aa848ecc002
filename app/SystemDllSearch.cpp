#include "app/SystemDllSearch.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

void RestrictDllSearchToSystem()
{
    // Looked up rather than imported, so that the loader still starts where
    // the function does not exist.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void (*)()>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return;
    // The DLLs the program binds late are loaded by their full path in any
    // case (common/SystemDll.h); here the current folder leaves the search.
    ::SetDllDirectoryW(L"");
}

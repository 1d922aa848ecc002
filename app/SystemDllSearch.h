#pragma once
// The loader is usually started from the user's Downloads folder, where any
// web page can have dropped a DLL named like a system one. DLLs must come
// from the system folder only.

#include <windows.h>

// Called first in the entry, before any delay-loaded DLL is touched: later
// loads search only the system folder. Where the platform cannot restrict
// the search (Windows 7 without KB2533623) the current folder is dropped
// from it and the delay-loaded DLLs are loaded now by their full path.
void RestrictDllSearchToSystem();

// A DLL from the system folder by its full path; its own dependencies are
// looked for there first as well. Null when it cannot be loaded.
HMODULE LoadSystemDll(const wchar_t* name);

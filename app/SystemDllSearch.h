#pragma once
// The loader is usually started from the user's Downloads folder, where any
// web page can have dropped a DLL named like a system one. DLLs must come
// from the system folder only.

#include "common/SystemDll.h"

// Called first in the entry, before any late-bound DLL is touched: later
// loads search only the system folder. Where the platform cannot restrict
// the search (Windows 7 without KB2533623) the current folder is dropped
// from it; the late-bound DLLs are loaded by their full path everywhere.
void RestrictDllSearchToSystem();

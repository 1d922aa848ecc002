#pragma once
// The common controls' functions the program calls, bound at their first
// call (common/SystemDll.h).

#include "common/SystemDll.h"

#include <commctrl.h>

namespace ComCtl32Dll {

// By its bare name: the manifest redirects that to version 6 in the
// side-by-side store, which comes before every folder of the search. A full
// path is not redirected and would bind version 5 of the system folder.
inline HMODULE Load()
{
    return ::LoadLibraryW(L"comctl32.dll");
}

KOVRA_SYSTEM_FUNCTION(, InitCommonControlsEx);
KOVRA_SYSTEM_FUNCTION(, _TrackMouseEvent);

} // namespace ComCtl32Dll

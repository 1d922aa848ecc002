#pragma once
// WinINet's functions as the program calls them: bound from the system
// folder at their first call (common/SystemDll.h).

#include "common/SystemDll.h"

#include <wininet.h>

namespace WinInetDll {

inline HMODULE Load()
{
    return LoadSystemDll(L"wininet.dll");
}

KOVRA_SYSTEM_FUNCTION(, HttpOpenRequestW);
KOVRA_SYSTEM_FUNCTION(, HttpQueryInfoW);
KOVRA_SYSTEM_FUNCTION(, HttpSendRequestW);
KOVRA_SYSTEM_FUNCTION(, InternetCloseHandle);
KOVRA_SYSTEM_FUNCTION(, InternetConnectW);
KOVRA_SYSTEM_FUNCTION(, InternetErrorDlg);
KOVRA_SYSTEM_FUNCTION(, InternetOpenW);
KOVRA_SYSTEM_FUNCTION(, InternetQueryOptionW);
KOVRA_SYSTEM_FUNCTION(, InternetReadFile);
KOVRA_SYSTEM_FUNCTION(, InternetSetOptionW);

} // namespace WinInetDll

#pragma once
// The signature check's functions of wintrust and crypt32: bound from the
// system folder at their first call (common/SystemDll.h).

#include "common/SystemDll.h"

#include <wincrypt.h>
#include <wintrust.h>

namespace WinTrustDll {

inline HMODULE Load()
{
    return LoadSystemDll(L"wintrust.dll");
}

KOVRA_SYSTEM_FUNCTION(, WinVerifyTrust);
KOVRA_SYSTEM_FUNCTION(, WTHelperProvDataFromStateData);
KOVRA_SYSTEM_FUNCTION(, WTHelperGetProvSignerFromChain);
KOVRA_SYSTEM_FUNCTION(, WTHelperGetProvCertFromChain);

} // namespace WinTrustDll

namespace Crypt32Dll {

inline HMODULE Load()
{
    return LoadSystemDll(L"crypt32.dll");
}

KOVRA_SYSTEM_FUNCTION(, CryptHashPublicKeyInfo);

} // namespace Crypt32Dll

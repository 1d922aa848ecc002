#include "stats/ClientIdStore.h"

#include "stats/RegistryKey.h"

#include <objbase.h>

namespace {

// Loaded once per process, also when two threads ask at the same time. A
// one-time initialisation of the platform rather than a function-local
// static, whose guard brings a whole thread library into the exe.
INIT_ONCE clientIdOnce = INIT_ONCE_STATIC_INIT;
WideString clientId;

BOOL CALLBACK LoadClientIdOnce(PINIT_ONCE, PVOID, PVOID*)
{
    clientId = LoadOrCreateClientId();
    return TRUE;
}

} // namespace

WideString GetClientId()
{
    if (!::InitOnceExecuteOnce(&clientIdOnce, &LoadClientIdOnce, nullptr, nullptr))
        return WideString();
    return clientId;
}

WideString LoadOrCreateClientId()
{
    WideString text = ReadStoredClientId();
    if (!text.empty())
        return text;

    GUID guid{};
    ::CoCreateGuid(&guid);
    LPOLESTR converted = nullptr;
    if (SUCCEEDED(::StringFromCLSID(guid, &converted)) && converted) {
        text = converted;
        ::CoTaskMemFree(converted);
    }
    WriteStoredClientId(text);
    return text;
}

WideString ReadStoredClientId()
{
    RegistryKey key(kClientIdKeyPath);
    return key.GetString(kClientIdValueName, WideString());
}

void WriteStoredClientId(const WideString& text)
{
    if (text.empty())
        return;
    RegistryKey key(kClientIdKeyPath);
    key.SetString(kClientIdValueName, text);
}

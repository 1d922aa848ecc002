#include "stats/ClientIdStore.h"

#include "stats/RegistryKey.h"

#include <objbase.h>

namespace {

// Loaded once per process, also when two threads ask at the same time. A
// one-time initialisation of the platform rather than a function-local
// static, whose guard brings a whole thread library into the exe.
INIT_ONCE clientIdOnce = INIT_ONCE_STATIC_INIT;
std::wstring clientId;

BOOL CALLBACK LoadClientIdOnce(PINIT_ONCE, PVOID, PVOID*)
{
    try {
        clientId = LoadOrCreateClientId();
        return TRUE;
    } catch (...) {
        // Out of memory: the next request tries again.
        return FALSE;
    }
}

} // namespace

std::wstring GetClientId()
{
    if (!::InitOnceExecuteOnce(&clientIdOnce, &LoadClientIdOnce, nullptr, nullptr))
        return std::wstring();
    return clientId;
}

std::wstring LoadOrCreateClientId()
{
    std::wstring text = ReadStoredClientId();
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

std::wstring ReadStoredClientId()
{
    RegistryKey key(kClientIdKeyPath);
    return key.GetString(kClientIdValueName, std::wstring());
}

void WriteStoredClientId(const std::wstring& text)
{
    if (text.empty())
        return;
    RegistryKey key(kClientIdKeyPath);
    key.SetString(kClientIdValueName, text);
}

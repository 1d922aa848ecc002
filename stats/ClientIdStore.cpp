#include "stats/ClientIdStore.h"

#include "stats/RegistryKey.h"

#include <objbase.h>

std::wstring GetClientId()
{
    // A function-local static is initialised once, also when two threads ask
    // at the same time; the run event asks first, on the main thread.
    static const std::wstring cached = LoadOrCreateClientId();
    return cached;
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

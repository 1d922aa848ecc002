#include "stats/RegistryKey.h"

#include <vector>

RegistryKey::RegistryKey(const wchar_t* path)
{
    HKEY key = nullptr;
    status_ = ::RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
    if (status_ == ERROR_SUCCESS)
        key_.reset(key);
}

WideString RegistryKey::GetString(const wchar_t* name, const WideString& fallback)
{
    if (!IsOpen())
        return fallback;

    // The size the platform reports is not trusted for the growth: a value can
    // change between two reads, so the buffer simply doubles until it fits.
    std::vector<wchar_t> buffer(64);
    LONG code;
    for (;;) {
        std::fill(buffer.begin(), buffer.end(), L'\0');
        DWORD type = 0;
        DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        code = ::RegQueryValueExW(key_.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &bytes);
        if (code == ERROR_SUCCESS) {
            if (type != REG_SZ && type != REG_EXPAND_SZ)
                code = ERROR_INVALID_DATA;
            else if (bytes == 0)
                buffer[0] = L'\0';
            else if (bytes % sizeof(wchar_t) != 0 || buffer[bytes / sizeof(wchar_t) - 1] != L'\0')
                code = ERROR_INVALID_DATA;
        }
        status_ = code;
        if (code != ERROR_MORE_DATA)
            break;
        buffer.resize(buffer.size() * 2);
    }
    ::SetLastError(static_cast<DWORD>(code));
    if (code != ERROR_SUCCESS)
        return fallback;
    return WideString(buffer.data());
}

void RegistryKey::SetString(const wchar_t* name, const WideString& value)
{
    if (!IsOpen())
        return;
    const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    status_ = ::RegSetValueExW(key_.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes);
}

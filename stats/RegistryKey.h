#pragma once
// One open key under HKEY_CURRENT_USER, for one read or one write. The key is
// created when it does not exist, also by a caller that only reads.

#include "common/UniqueHandle.h"
#include "common/WideString.h"

class RegistryKey {
public:
    explicit RegistryKey(const wchar_t* path);

    // The string value, or fallback when the key is not open, the value is
    // missing, or its data is not a terminated string (REG_SZ or REG_EXPAND_SZ,
    // the latter taken literally). The thread's last error holds the outcome.
    WideString GetString(const wchar_t* name, const WideString& fallback);

    // Stores a REG_SZ value with its terminating NUL. Nothing when not open.
    void SetString(const wchar_t* name, const WideString& value);

    bool IsOpen() const { return key_.valid(); }
    LONG Status() const { return status_; }

private:
    UniqueHKey key_;
    LONG status_ = ERROR_SUCCESS;
};

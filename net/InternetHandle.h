#pragma once
// Owner of one WinINet connection or request handle. Close() says whether
// the platform closed it; the destructor closes whatever is still open, also
// when an exception leaves the download.

#include "common/UniqueInternetHandle.h"

class InternetHandle {
public:
    InternetHandle() noexcept = default;
    explicit InternetHandle(HINTERNET handle) noexcept : handle_(handle) {}

    HINTERNET get() const noexcept { return handle_.get(); }
    void reset(HINTERNET handle = nullptr) noexcept { handle_.reset(handle); }
    explicit operator bool() const noexcept { return handle_.valid(); }

    // False on an empty holder, without calling the platform.
    bool Close() noexcept
    {
        if (!handle_)
            return false;
        return ::InternetCloseHandle(handle_.release()) != FALSE;
    }

private:
    UniqueHInternet handle_;
};

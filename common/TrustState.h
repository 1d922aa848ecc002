#pragma once
// The state WinVerifyTrust keeps after a verification (the provider data with
// the signers and their chains). It is released by a second call with the
// same action and data, so the owner keeps both: neither can be forgotten.

#include "common/WinTrustDll.h"

class TrustState {
public:
    // Verifies what `data` names; the state stays open until destruction.
    // `data` must outlive this object.
    TrustState(const GUID& action, WINTRUST_DATA& data) noexcept : action_(action), data_(data)
    {
        data_.dwStateAction = WTD_STATEACTION_VERIFY;
        result_ = WinTrustDll::WinVerifyTrust(NoInteractiveUser(), &action_, &data_);
    }
    ~TrustState()
    {
        data_.dwStateAction = WTD_STATEACTION_CLOSE;
        WinTrustDll::WinVerifyTrust(NoInteractiveUser(), &action_, &data_);
    }
    TrustState(const TrustState&) = delete;
    TrustState& operator=(const TrustState&) = delete;

    // 0 when the subject is trusted, otherwise the provider's code.
    LONG result() const noexcept { return result_; }
    HANDLE get() const noexcept { return data_.hWVTStateData; }

private:
    static HWND NoInteractiveUser() noexcept { return static_cast<HWND>(INVALID_HANDLE_VALUE); }

    GUID action_;
    WINTRUST_DATA& data_;
    LONG result_ = 0;
};

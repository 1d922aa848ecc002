#pragma once
// The proxy's user name and password as the user typed them and the proxy
// took them, kept for the rest of the run. WinINet keeps typed credentials
// with the session they were typed for; the statistics open a session of
// their own for every request, so every request presents them itself, and
// an event the proxy refused waits for them.

#include "common/SrwLock.h"
#include "common/UniqueInternetHandle.h"

#include <cwchar>

namespace proxy_credentials {

// Room for the longest names and passwords the system's prompt takes
// (CREDUI_MAX_USERNAME_LENGTH, CREDUI_MAX_PASSWORD_LENGTH), terminator
// included. Plain arrays: the store is ready before any code runs.
const DWORD kUserChars = 514;
const DWORD kPasswordChars = 257;

struct Store {
    SRWLOCK lock;
    // Signalled when the proxy has taken what the user typed.
    CONDITION_VARIABLE remembered;
    wchar_t user[kUserChars];
    wchar_t password[kPasswordChars];
};

inline Store store = {SRWLOCK_INIT, CONDITION_VARIABLE_INIT, {}, {}};

} // namespace proxy_credentials

// Keeps what the user typed for request, once the proxy has let it through.
inline void RememberProxyCredentials(HINTERNET request)
{
    using namespace proxy_credentials;
    const SrwExclusive held(store.lock);
    DWORD bytes = sizeof store.user;
    if (!WinInetDll::InternetQueryOptionW(request, INTERNET_OPTION_PROXY_USERNAME, store.user, &bytes))
        store.user[0] = L'\0';
    bytes = sizeof store.password;
    if (!WinInetDll::InternetQueryOptionW(request, INTERNET_OPTION_PROXY_PASSWORD, store.password, &bytes))
        store.password[0] = L'\0';
    // May be called with the lock held.
    if (store.user[0])
        ::WakeAllConditionVariable(&store.remembered);
}

// Waits until the proxy has taken credentials the user typed (for the
// download: nothing else asks), however long that takes; at once when it has.
inline void WaitForProxyCredentials()
{
    using namespace proxy_credentials;
    const SrwShared held(store.lock);
    // Releases the shared hold while it sleeps, and takes it again shared
    // (the mode flag must match how the lock is held) before it returns,
    // also when woken for nothing: the loop looks again.
    while (!store.user[0])
        ::SleepConditionVariableSRW(&store.remembered, &store.lock, INFINITE, CONDITION_VARIABLE_LOCKMODE_SHARED);
}

// Gives request what the proxy took earlier in the run, if anything; WinINet
// answers the proxy's 407 with it by itself.
inline void PresentProxyCredentials(HINTERNET request)
{
    using namespace proxy_credentials;
    const SrwShared held(store.lock);
    if (!store.user[0])
        return;
    // String options take their length in characters.
    WinInetDll::InternetSetOptionW(request, INTERNET_OPTION_PROXY_USERNAME, store.user,
                         static_cast<DWORD>(std::wcslen(store.user)));
    WinInetDll::InternetSetOptionW(request, INTERNET_OPTION_PROXY_PASSWORD, store.password,
                         static_cast<DWORD>(std::wcslen(store.password)));
}

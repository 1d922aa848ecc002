#include "stats/StatsSender.h"

#include "FixedHosts.h"
#include "common/ProxyCredentials.h"
#include "common/SrwLock.h"
#include "common/UniqueInternetHandle.h"

#include <process.h>

#include <new>
#include <utility>
#include <vector>

namespace {

const DWORD kConnectRetries = 1;

bool SetNumberOption(HINTERNET handle, DWORD option, DWORD value)
{
    return WinInetDll::InternetSetOptionW(handle, option, &value, sizeof value) != FALSE;
}

// Sends one event; the status of its answer, 0 when none came. Any answer
// counts as delivered: its body is never read.
DWORD SendOnce(const WideString& url)
{
    // A session of its own for every send, with short time-outs.
    UniqueHInternet session(
        WinInetDll::InternetOpenW(L"KovraLoader", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session)
        return 0;
    if (!SetNumberOption(session.get(), INTERNET_OPTION_CONNECT_TIMEOUT, kStatsTimeoutMs) ||
        !SetNumberOption(session.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, kStatsTimeoutMs) ||
        !SetNumberOption(session.get(), INTERNET_OPTION_CONNECT_RETRIES, kConnectRetries))
        return 0;

    // The GET goes through a request handle of its own rather than
    // InternetOpenUrlW: some WinINet implementations (Wine's among them) do not
    // pass the session's time-outs on, and a silent host would then hold the
    // sender for ever. On the request handle they hold everywhere.
    UniqueHInternet connection(WinInetDll::InternetConnectW(session.get(), KOVRA_STATS_HOST,
                                                            INTERNET_DEFAULT_HTTP_PORT, nullptr, nullptr,
                                                            INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection)
        return 0;
    // The URL after "http://" and the host: path and query.
    const wchar_t* object = url.c_str() + (sizeof(L"http://" KOVRA_STATS_HOST) / sizeof(wchar_t) - 1);
    LPCWSTR acceptTypes[] = {L"*/*", nullptr};
    // Never a copy of the answer in the user's internet cache: the loader
    // writes nothing outside its download, and the answer is not read.
    UniqueHInternet request(WinInetDll::HttpOpenRequestW(connection.get(), L"GET", object, nullptr, nullptr,
                                                         acceptTypes,
                                                         INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
    if (!request)
        return 0;
    SetNumberOption(request.get(), INTERNET_OPTION_CONNECT_TIMEOUT, kStatsTimeoutMs);
    SetNumberOption(request.get(), INTERNET_OPTION_SEND_TIMEOUT, kStatsTimeoutMs);
    SetNumberOption(request.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, kStatsTimeoutMs);
    // Only what the proxy took from the user for the download.
    PresentProxyCredentials(request.get());
    if (!WinInetDll::HttpSendRequestW(request.get(), nullptr, 0, nullptr, 0))
        return 0;
    DWORD status = 0;
    DWORD bytes = sizeof status;
    WinInetDll::HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &bytes,
                               nullptr);
    return status;
}

// A 407 waits for the credentials the user gives the download's prompt, as
// long as that takes (the events after it wait in line), then goes again once.
void Deliver(const WideString& url)
{
    if (SendOnce(url) != HTTP_STATUS_PROXY_AUTH_REQ)
        return;
    WaitForProxyCredentials();
    SendOnce(url);
}

// What the callers and the sender thread share. Made with the first event
// and never freed: the sender may still be waiting in it (for a silent host,
// for credentials) when the process ends, and ends with the process.
struct Sender {
    SRWLOCK lock = SRWLOCK_INIT;
    // Signalled when an event is queued and when the sender is done with one.
    CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
    std::vector<WideString> queue; // oldest first
    bool sending = false;
};

INIT_ONCE senderOnce = INIT_ONCE_STATIC_INIT;

unsigned __stdcall SenderThread(void* shared)
{
    Sender& sender = *static_cast<Sender*>(shared);
    WideString url;
    for (;;) {
        {
            const SrwExclusive held(sender.lock);
            sender.sending = false;
            // May be called with the lock held; FinishStatsEvents looks again.
            ::WakeAllConditionVariable(&sender.changed);
            // Releases the lock while it sleeps and holds it again when it
            // returns, also when woken for nothing: the loop looks again.
            while (sender.queue.empty())
                ::SleepConditionVariableSRW(&sender.changed, &sender.lock, INFINITE, 0);
            url.swap(sender.queue.front());
            sender.queue.erase(sender.queue.begin());
            sender.sending = true;
        }
        Deliver(url);
    }
}

BOOL CALLBACK StartSender(PINIT_ONCE, PVOID, PVOID* made)
{
    Sender* sender = new (std::nothrow) Sender();
    if (!sender)
        return FALSE;
    // The thread uses the C runtime (its heap, through the strings): it is
    // started by the runtime's own function, not CreateThread. Nobody waits
    // for it to end, so its handle is closed at once: closing a thread's
    // handle does not end the thread.
    const UniqueKernelHandle thread(
        reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, SenderThread, sender, 0, nullptr)));
    if (!thread) {
        delete sender;
        return FALSE;
    }
    *made = sender;
    return TRUE;
}

} // namespace

void QueueStatsEvent(WideString url)
{
    // Runs StartSender once, whichever thread comes first; the others wait
    // until it has returned. A failed start is tried again by the next event.
    void* made = nullptr;
    if (!::InitOnceExecuteOnce(&senderOnce, &StartSender, nullptr, &made))
        return;
    Sender& sender = *static_cast<Sender*>(made);
    const SrwExclusive held(sender.lock);
    sender.queue.push_back(std::move(url));
    ::WakeAllConditionVariable(&sender.changed);
}

void FinishStatsEvents(DWORD timeoutMs)
{
    // Only looks: no event queued, no sender to wait for.
    BOOL pending = FALSE;
    void* made = nullptr;
    if (!::InitOnceBeginInitialize(&senderOnce, INIT_ONCE_CHECK_ONLY, &pending, &made) || pending)
        return;
    Sender& sender = *static_cast<Sender*>(made);
    // GetTickCount64 does not wrap within a run.
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    const SrwExclusive held(sender.lock);
    while (!sender.queue.empty() || sender.sending) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline)
            return;
        ::SleepConditionVariableSRW(&sender.changed, &sender.lock, static_cast<DWORD>(deadline - now), 0);
    }
}

#include "stats/StatsRequest.h"

#include "FixedHosts.h"
#include "common/ProxyCredentials.h"
#include "common/UniqueInternetHandle.h"
#include "stats/ClientIdStore.h"
#include "stats/StatsUrl.h"

namespace {

const DWORD kConnectTimeoutMs = 5000;
const DWORD kReceiveTimeoutMs = 5000;
const DWORD kConnectRetries = 1;

bool SetNumberOption(HINTERNET handle, DWORD option, DWORD value)
{
    return ::InternetSetOptionW(handle, option, &value, sizeof value) != FALSE;
}

} // namespace

StatsRequest::StatsRequest() : url_(StatsEndpoint())
{
    url_ += IdentifierPiece(GetClientId());
}

StatsRequest::~StatsRequest()
{
    Send();
}

void StatsRequest::AddParam(const std::wstring& key, const std::wstring& value)
{
    url_ += ParamPiece(key, value);
}

void StatsRequest::Send()
{
    if (sent_)
        return;
    // A session of its own for every send, with short time-outs: the run event
    // holds back the window until it is answered or given up.
    UniqueHInternet session(::InternetOpenW(L"KovraLoader", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session)
        return;
    if (!SetNumberOption(session.get(), INTERNET_OPTION_CONNECT_TIMEOUT, kConnectTimeoutMs) ||
        !SetNumberOption(session.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, kReceiveTimeoutMs) ||
        !SetNumberOption(session.get(), INTERNET_OPTION_CONNECT_RETRIES, kConnectRetries))
        return;

    // The GET goes through a request handle of its own rather than
    // InternetOpenUrlW: some WinINet implementations (Wine's among them) do not
    // pass the session's time-outs on, and a silent host would then hold the
    // loader for ever. On the request handle they hold everywhere.
    UniqueHInternet connection(::InternetConnectW(session.get(), KOVRA_STATS_HOST, INTERNET_DEFAULT_HTTP_PORT,
                                                  nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection)
        return;
    // The URL after "http://" and the host: path and query.
    const wchar_t* object = url_.c_str() + (sizeof(L"http://" KOVRA_STATS_HOST) / sizeof(wchar_t) - 1);
    LPCWSTR acceptTypes[] = {L"*/*", nullptr};
    // Never a copy of the answer in the user's internet cache: the loader
    // writes nothing outside its download, and the answer is not read.
    UniqueHInternet request(::HttpOpenRequestW(connection.get(), L"GET", object, nullptr, nullptr, acceptTypes,
                                               INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
    if (!request)
        return;
    SetNumberOption(request.get(), INTERNET_OPTION_CONNECT_TIMEOUT, kConnectTimeoutMs);
    SetNumberOption(request.get(), INTERNET_OPTION_SEND_TIMEOUT, kReceiveTimeoutMs);
    SetNumberOption(request.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, kReceiveTimeoutMs);
    // An event never asks the user anything: only what the proxy took from
    // the user earlier in the run gets it through a proxy that wants a login.
    PresentProxyCredentials(request.get());

    // Any answer counts as delivered: the status and the body are not read.
    if (::HttpSendRequestW(request.get(), nullptr, 0, nullptr, 0))
        sent_ = true;
}

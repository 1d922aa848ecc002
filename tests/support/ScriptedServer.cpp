#include "tests/support/ScriptedServer.h"

#include "common/UniqueInternetHandle.h"
#include "tests/support/HarnessEnv.h"

namespace harness {

bool Control(const wchar_t* path, const std::string& body, std::string* answer)
{
    UniqueHInternet session(::InternetOpenW(L"kovra-tests", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (!session)
        return false;
    UniqueHInternet connection(::InternetConnectW(session.get(), L"127.0.0.1", static_cast<INTERNET_PORT>(ScriptedPort()),
                                                  nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection)
        return false;
    UniqueHInternet request(::HttpOpenRequestW(connection.get(), L"POST", path, nullptr, nullptr, nullptr,
                                               INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
    if (!request)
        return false;
    if (!::HttpSendRequestW(request.get(), nullptr, 0, const_cast<char*>(body.data()), static_cast<DWORD>(body.size())))
        return false;
    DWORD status = 0, size = sizeof status;
    ::HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr);
    char buffer[65536];
    DWORD read = 0;
    while (answer && ::InternetReadFile(request.get(), buffer, sizeof buffer, &read) && read > 0)
        answer->append(buffer, read);
    return status == 200;
}

bool ScriptPath(const std::string& json) { return Control(L"/__control/script", json); }
bool ResetScripts() { return Control(L"/__control/reset", std::string()); }

WideString ScriptedUrl(const WideString& path) { return ScriptedBase() + path; }

} // namespace harness

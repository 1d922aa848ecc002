// The usage statistics against the real registry of the Wine prefix and real
// requests through the proxy route (nginx, which hands the statistics host to
// the scripted server).

#define DOCTEST_CONFIG_IMPLEMENT_WITH_MAIN
#include <doctest.h>

#include "FixedHosts.h"
#include "stats/ClientIdStore.h"
#include "stats/RegistryKey.h"
#include "stats/StatsRequest.h"
#include "stats/StatsSender.h"
#include "stats/StatsUrl.h"
#include "tests/support/HarnessEnv.h"
#include "tests/support/Process.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/ServerLog.h"

#include <windows.h>

#include <climits>
#include <cwctype>
#include <string>
#include <vector>

using harness::LogEntry;
using harness::Narrow;

namespace {

const std::string kStatsPath = "/update/2/version.txt";

struct RawValue {
    bool present = false;
    DWORD type = 0;
    std::vector<BYTE> bytes;
};

void DeleteClientKey()
{
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kClientIdKeyPath);
}

void StoreRaw(DWORD type, const void* data, DWORD bytes)
{
    HKEY key = nullptr;
    REQUIRE(::RegCreateKeyExW(HKEY_CURRENT_USER, kClientIdKeyPath, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) == ERROR_SUCCESS);
    UniqueHKey owner(key);
    REQUIRE(::RegSetValueExW(key, kClientIdValueName, 0, type, static_cast<const BYTE*>(data), bytes) == ERROR_SUCCESS);
}

void StoreText(DWORD type, const WideString& text)
{
    StoreRaw(type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

RawValue QueryRaw()
{
    RawValue value;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kClientIdKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return value;
    UniqueHKey owner(key);
    DWORD bytes = 0;
    if (::RegQueryValueExW(key, kClientIdValueName, nullptr, &value.type, nullptr, &bytes) != ERROR_SUCCESS)
        return value;
    value.bytes.resize(bytes);
    value.present = ::RegQueryValueExW(key, kClientIdValueName, nullptr, &value.type, value.bytes.data(), &bytes) == ERROR_SUCCESS;
    value.bytes.resize(bytes);
    return value;
}

WideString TextOf(const RawValue& value)
{
    WideString text(value.bytes.size() / sizeof(wchar_t), L'\0');
    memcpy(&text[0], value.bytes.data(), text.size() * sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0')
        text.pop_back();
    return text;
}

bool IsRegistryGuid(const WideString& text)
{
    if (text.size() != 38 || text.front() != L'{' || text.back() != L'}')
        return false;
    for (size_t i = 1; i < 37; ++i) {
        const bool hyphen = i == 9 || i == 14 || i == 19 || i == 24;
        if (hyphen ? text[i] != L'-' : !(std::iswdigit(text[i]) || (text[i] >= L'A' && text[i] <= L'F')))
            return false;
    }
    return true;
}

// The stored value is a new identifier: REG_SZ, 38 characters and the NUL.
void CheckNewIdentifierStored(const WideString& expected)
{
    const RawValue stored = QueryRaw();
    REQUIRE(stored.present);
    CHECK(stored.type == REG_SZ);
    CHECK(stored.bytes.size() == 39 * sizeof(wchar_t));
    CHECK(stored.bytes[76] == 0);
    CHECK(stored.bytes[77] == 0);
    CHECK(TextOf(stored) == expected);
    CHECK(IsRegistryGuid(expected));
}

// Runs the probe program with the given commands, which must finish and
// exit with 0; extraEnv replaces or adds an environment variable ("name=value").
harness::ProcessResult RunProbe(const WideString& commands, const WideString& extraEnv = WideString())
{
    const WideString line = L"\"" + harness::ProgramDir() + L"stats_probe.exe\" " + commands;
    const WideString name = extraEnv.substr(0, extraEnv.find(L'='));
    const WideString saved = harness::Env(name.c_str());
    if (!extraEnv.empty())
        ::SetEnvironmentVariableW(name.c_str(), extraEnv.substr(name.size() + 1).c_str());
    harness::ProcessResult result = harness::RunProcess(line, 60000);
    if (!extraEnv.empty())
        ::SetEnvironmentVariableW(name.c_str(), saved.empty() ? nullptr : saved.c_str());
    REQUIRE(result.finished);
    CHECK(result.exitCode == 0);
    return result;
}

// Statistics requests that reached nginx since the mark, in order; there
// must be `count` of them.
std::vector<LogEntry> StatsRequests(const harness::ServerLog& log, size_t count)
{
    std::vector<LogEntry> found;
    for (const LogEntry& entry : log.Entries())
        if (entry.target.find(kStatsPath) != std::string::npos)
            found.push_back(entry);
    REQUIRE(found.size() == count);
    return found;
}

// The statistics requests of a run of the probe with these commands, in order.
std::vector<LogEntry> ProbeRequests(const WideString& commands, size_t count)
{
    harness::ServerLog log("nginx");
    RunProbe(commands);
    return StatsRequests(log, count);
}

// The query the program sent, after checking host and path of the target.
std::string QueryOf(const LogEntry& entry)
{
    // Through a proxy the target is absolute: http://host[:80]/path?query
    const std::string host = "http://" + Narrow(KOVRA_STATS_HOST);
    for (const std::string& start : {host + ":80" + kStatsPath + "?", host + kStatsPath + "?"})
        if (entry.target.rfind(start, 0) == 0)
            return entry.target.substr(start.size());
    FAIL_CHECK("unexpected target " << entry.target);
    return std::string();
}

// The fixture of every registry and requests case: no client key before it
// or after it, and no scripts left after it.
struct CleanKey {
    CleanKey() { DeleteClientKey(); }
    ~CleanKey()
    {
        DeleteClientKey();
        harness::ResetScripts();
    }
};

} // namespace

TEST_SUITE("url")
{
    TEST_CASE("the endpoint and the query pieces")
    {
        CHECK(StatsEndpoint() == WideString(L"http://") + KOVRA_STATS_HOST + L"/update/2/version.txt?");
        CHECK(IdentifierPiece(L"{0A1B2C3D-0000-1111-2222-333344445555}") == L"GUID={0A1B2C3D-0000-1111-2222-333344445555}");
        CHECK(ParamPiece(L"type", L"qloader_run") == L"&type=qloader_run");
        CHECK(ExitCodeText(0) == L"0");
        CHECK(ExitCodeText(5) == L"5");
        CHECK(ExitCodeText(-5) == L"-5");
        CHECK(ExitCodeText(static_cast<int>(3221225477u)) == L"-1073741819");
        CHECK(ExitCodeText(INT_MIN) == L"-2147483648");
    }

    TEST_CASE("ampersands and equals signs go in as stored")
    {
        CHECK(IdentifierPiece(L"a&b=c") == L"GUID=a&b=c");
        CHECK(IdentifierPiece(L"%TEMP%") == L"GUID=%TEMP%");
    }

    TEST_CASE("a stored text cannot reach past its query")
    {
        CHECK(IdentifierPiece(L"a\r\nX-Evil: 1") == L"GUID=a%0D%0AX-Evil:%201");
        CHECK(IdentifierPiece(L"a#b") == L"GUID=a%23b");
        CHECK(IdentifierPiece(L"a\tb\x7F") == L"GUID=a%09b%7F");
        CHECK(IdentifierPiece(WideString(L"a\0b", 3)) == L"GUID=a%00b");
        CHECK(IdentifierPiece(L"\x0416") == L"GUID=%D0%96");
        CHECK(IdentifierPiece(L"\xD83D\xDE00") == L"GUID=%F0%9F%98%80");
        CHECK(IdentifierPiece(L"\xD83D") == L"GUID=%EF%BF%BD");
        CHECK(ParamPiece(L"k\n", L"v v") == L"&k%0A=v%20v");
    }

    TEST_CASE("pieces are cut at 511 characters")
    {
        const WideString piece = IdentifierPiece(WideString(600, L'A'));
        CHECK(piece.size() == 511);
        CHECK(piece == L"GUID=" + WideString(506, L'A'));
        CHECK(ParamPiece(L"type", WideString(1000, L'x')).size() == 511);
        CHECK(IdentifierPiece(WideString(506, L'A')).size() == 511);
    }
}

TEST_SUITE("registry")
{
    TEST_CASE_FIXTURE(CleanKey, "reading string values")
    {
        RegistryKey key(kClientIdKeyPath);
        REQUIRE(key.IsOpen());

        SUBCASE("missing value gives the default")
        {
            CHECK(key.GetString(kClientIdValueName, L"fallback") == L"fallback");
            CHECK(key.Status() == ERROR_FILE_NOT_FOUND);
        }
        SUBCASE("a short text")
        {
            StoreText(REG_SZ, L"abc");
            CHECK(key.GetString(kClientIdValueName, L"") == L"abc");
            CHECK(key.Status() == ERROR_SUCCESS);
            CHECK(::GetLastError() == ERROR_SUCCESS);
        }
        SUBCASE("longer texts are read in full as the buffer grows")
        {
            for (size_t length : {63u, 64u, 100u, 127u, 128u, 1000u, 32767u}) {
                WideString text;
                for (size_t i = 0; i < length; ++i)
                    text += static_cast<wchar_t>(L'a' + i % 26);
                StoreText(REG_SZ, text);
                CHECK(key.GetString(kClientIdValueName, L"") == text);
            }
        }
        SUBCASE("REG_EXPAND_SZ is taken literally")
        {
            StoreText(REG_EXPAND_SZ, L"%TEMP%\\x");
            CHECK(key.GetString(kClientIdValueName, L"") == L"%TEMP%\\x");
        }
        SUBCASE("an empty value is an empty text")
        {
            StoreRaw(REG_SZ, L"", 0);
            CHECK(key.GetString(kClientIdValueName, L"fallback") == L"");
            CHECK(key.Status() == ERROR_SUCCESS);
        }
        SUBCASE("data that is not a terminated string gives the default")
        {
            const DWORD number = 42;
            StoreRaw(REG_DWORD, &number, sizeof number);
            CHECK(key.GetString(kClientIdValueName, L"fallback") == L"fallback");
            CHECK(key.Status() == ERROR_INVALID_DATA);
            CHECK(::GetLastError() == ERROR_INVALID_DATA);

            StoreRaw(REG_SZ, L"abc", 5); // odd byte count
            CHECK(key.GetString(kClientIdValueName, L"fallback") == L"fallback");
            CHECK(key.Status() == ERROR_INVALID_DATA);

            // No terminating NUL. The platform adds one to stored strings
            // whose next character in memory is NUL, so the source runs on.
            const WideString unterminated(80, L'x');
            StoreRaw(REG_SZ, unterminated.data(), 8);
            CHECK(key.GetString(kClientIdValueName, L"fallback") == L"fallback");
            CHECK(key.Status() == ERROR_INVALID_DATA);

            StoreRaw(REG_MULTI_SZ, L"ab\0\0", 8);
            CHECK(key.GetString(kClientIdValueName, L"fallback") == L"fallback");
        }
    }

    TEST_CASE_FIXTURE(CleanKey, "writing stores REG_SZ with its terminating NUL")
    {
        RegistryKey(kClientIdKeyPath).SetString(kClientIdValueName, L"hello");
        const RawValue stored = QueryRaw();
        REQUIRE(stored.present);
        CHECK(stored.type == REG_SZ);
        CHECK(stored.bytes.size() == 12);
        CHECK(TextOf(stored) == L"hello");
    }

    TEST_CASE_FIXTURE(CleanKey, "load or create the identifier")
    {
        SUBCASE("a clean profile gets a new braced upper-case GUID, stored")
        {
            const WideString id = LoadOrCreateClientId();
            CheckNewIdentifierStored(id);
            CHECK(LoadOrCreateClientId() == id);
        }
        SUBCASE("a stored identifier of any form is used unchanged")
        {
            StoreText(REG_SZ, L"abc");
            CHECK(LoadOrCreateClientId() == L"abc");
            CHECK(TextOf(QueryRaw()) == L"abc");
        }
        SUBCASE("REG_EXPAND_SZ is used literally and stays as stored")
        {
            StoreText(REG_EXPAND_SZ, L"%USERNAME%-id");
            CHECK(LoadOrCreateClientId() == L"%USERNAME%-id");
            const RawValue stored = QueryRaw();
            CHECK(stored.type == REG_EXPAND_SZ);
            CHECK(TextOf(stored) == L"%USERNAME%-id");
        }
        SUBCASE("unusable values are replaced by a new REG_SZ identifier")
        {
            const DWORD number = 7;
            const BYTE binary[3] = {1, 2, 3};
            SUBCASE("REG_DWORD") { StoreRaw(REG_DWORD, &number, sizeof number); }
            SUBCASE("REG_BINARY") { StoreRaw(REG_BINARY, binary, sizeof binary); }
            SUBCASE("odd byte count") { StoreRaw(REG_SZ, L"abc", 3); }
            SUBCASE("no terminating NUL") { StoreRaw(REG_SZ, WideString(80, L'x').data(), 8); }
            SUBCASE("empty") { StoreRaw(REG_SZ, L"", 0); }
            const WideString id = LoadOrCreateClientId();
            CheckNewIdentifierStored(id);
        }
    }
}

TEST_SUITE("requests")
{
    TEST_CASE_FIXTURE(CleanKey, "a clean profile: the run event creates, stores and sends the identifier")
    {
        harness::ServerLog log("nginx");
        RunProbe(L"run");

        const WideString id = TextOf(QueryRaw());
        CheckNewIdentifierStored(id);

        const std::vector<LogEntry> requests = StatsRequests(log, 1);
        CHECK(requests[0].method == "GET");
        CHECK(QueryOf(requests[0]) == "GUID=" + Narrow(id) + "&type=qloader_run");
        CHECK(requests[0].Header("User-Agent") == "KovraLoader");
        CHECK(requests[0].Header("Host") == Narrow(KOVRA_STATS_HOST));
    }

    TEST_CASE_FIXTURE(CleanKey, "a second process reads the stored identifier and writes nothing")
    {
        RunProbe(L"run");
        const WideString id = TextOf(QueryRaw());
        REQUIRE(IsRegistryGuid(id));

        HKEY raw = nullptr;
        REQUIRE(::RegOpenKeyExW(HKEY_CURRENT_USER, kClientIdKeyPath, 0, KEY_NOTIFY, &raw) == ERROR_SUCCESS);
        UniqueHKey key(raw);
        UniqueKernelHandle changed(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        REQUIRE(::RegNotifyChangeKeyValue(key.get(), TRUE, REG_NOTIFY_CHANGE_LAST_SET, changed.get(), TRUE) == ERROR_SUCCESS);

        const std::vector<LogEntry> requests = ProbeRequests(L"run downloaded", 2);
        CHECK(QueryOf(requests[0]) == "GUID=" + Narrow(id) + "&type=qloader_run");
        CHECK(QueryOf(requests[1]) == "GUID=" + Narrow(id) + "&type=qloader_downloaded");
        // The server signals a write as it makes it: the probe has ended.
        CHECK(::WaitForSingleObject(changed.get(), 0) == WAIT_TIMEOUT);

        // The same watch does see a write, so the check above can fail.
        RunProbe(L"setreg:other");
        CHECK(::WaitForSingleObject(changed.get(), 5000) == WAIT_OBJECT_0);
    }

    TEST_CASE_FIXTURE(CleanKey, "one process reads the registry once for all its events")
    {
        StoreText(REG_SZ, L"first-id");
        const std::vector<LogEntry> requests = ProbeRequests(L"run setreg:second-id downloaded finished:0", 3);
        CHECK(QueryOf(requests[0]) == "GUID=first-id&type=qloader_run");
        CHECK(QueryOf(requests[1]) == "GUID=first-id&type=qloader_downloaded");
        CHECK(QueryOf(requests[2]) == "GUID=first-id&type=qloader_finished&exit_code=0");
        CHECK(TextOf(QueryRaw()) == L"second-id");
    }

    TEST_CASE_FIXTURE(CleanKey, "the exact URLs of the four events, and one rename failure per process")
    {
        const std::string id = "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}";
        StoreText(REG_SZ, harness::Widen(id));
        const std::vector<LogEntry> requests = ProbeRequests(L"run downloaded finished:0 finished:4294967291 finished:3221225477 renamefailed renamefailed", 6);
        const char* expected[] = {
            "&type=qloader_run",
            "&type=qloader_downloaded",
            "&type=qloader_finished&exit_code=0",
            "&type=qloader_finished&exit_code=-5",
            "&type=qloader_finished&exit_code=-1073741819",
            "&type=qloader_err_dultoexe",
        };
        for (size_t i = 0; i < 6; ++i) {
            CHECK(requests[i].method == "GET");
            CHECK(QueryOf(requests[i]) == "GUID=" + id + expected[i]);
            CHECK(requests[i].Header("User-Agent") == "KovraLoader");
        }
    }

    TEST_CASE_FIXTURE(CleanKey, "stored identifiers are sent as stored")
    {
        WideString hundred;
        for (int i = 0; i < 100; ++i)
            hundred += static_cast<wchar_t>(L'A' + i % 26);
        struct Case {
            DWORD type;
            WideString stored;
            std::string sent;
        } cases[] = {
            {REG_SZ, L"abc", "abc"},
            {REG_SZ, hundred, Narrow(hundred)},
            {REG_EXPAND_SZ, L"%TEMP%x", "%TEMP%x"},
        };
        for (const Case& c : cases) {
            StoreText(c.type, c.stored);
            const std::vector<LogEntry> requests = ProbeRequests(L"run", 1);
            CHECK(QueryOf(requests[0]) == "GUID=" + c.sent + "&type=qloader_run");
            const RawValue stored = QueryRaw();
            CHECK(stored.type == c.type);
            CHECK(TextOf(stored) == c.stored);
        }
    }

    TEST_CASE_FIXTURE(CleanKey, "a REG_DWORD identifier is replaced and the new one is sent")
    {
        const DWORD number = 12345;
        StoreRaw(REG_DWORD, &number, sizeof number);
        const std::vector<LogEntry> requests = ProbeRequests(L"run", 1);
        const WideString id = TextOf(QueryRaw());
        CheckNewIdentifierStored(id);
        CHECK(QueryOf(requests[0]) == "GUID=" + Narrow(id) + "&type=qloader_run");
    }

    TEST_CASE_FIXTURE(CleanKey, "an identifier with line breaks cannot add a header or a request")
    {
        StoreText(REG_SZ, L"a\r\nX-Evil: 1\r\n\r\nGET /evil HTTP/1.1");
        harness::ServerLog nginx("nginx");
        harness::ServerLog scripted("scripted");
        RunProbe(L"run");
        const std::vector<LogEntry> requests = StatsRequests(nginx, 1);
        CHECK(QueryOf(requests[0]) == "GUID=a%0D%0AX-Evil:%201%0D%0A%0D%0AGET%20/evil%20HTTP/1.1&type=qloader_run");
        // The scripted server behind nginx records every header it got.
        const std::vector<LogEntry> behind = scripted.Entries();
        REQUIRE(behind.size() == 1);
        CHECK_FALSE(behind[0].HasHeader("X-Evil"));
        // One request only, and none for the smuggled path.
        CHECK(nginx.Entries().size() == 1);
        CHECK(behind.size() == 1);
    }

    TEST_CASE_FIXTURE(CleanKey, "a 404 answer counts as delivered and nothing follows")
    {
        StoreText(REG_SZ, L"id-404");
        REQUIRE(harness::ScriptPath(R"({"path": "/update/2/version.txt", "default": {"status": 404, "body": "gone"}})"));
        harness::ServerLog log("nginx");
        RunProbe(L"run");
        const std::vector<LogEntry> requests = StatsRequests(log, 1);
        CHECK(requests[0].status == 404);

        // The same in this process: delivered once, never sent again.
        {
            StatsRequest request;
            request.AddParam(L"type", L"in_process");
        }
        FinishStatsEvents();
        const std::vector<LogEntry> both = StatsRequests(log, 2);
        CHECK(QueryOf(both[1]).find("&type=in_process") != std::string::npos);
        CHECK(both[1].status == 404);
    }

    TEST_CASE_FIXTURE(CleanKey, "a silent statistics host is given up within the time-outs")
    {
        REQUIRE(harness::ScriptPath(R"({"path": "/update/2/version.txt", "default": {"silent": true, "hold": 90}})"));
        const harness::ProcessResult result = RunProbe(L"run");
        // 5 s to receive, with room for a slow machine; the server holds 90 s.
        CHECK(result.elapsedMs < 30000);
        MESSAGE("silent host: the run event returned after " << result.elapsedMs << " ms");
    }

    TEST_CASE_FIXTURE(CleanKey, "an unreachable statistics host is given up at once")
    {
        // A proxy port where nothing listens: the connection is refused.
        const harness::ProcessResult result = RunProbe(L"run downloaded", L"http_proxy=http://127.0.0.1:9");
        CHECK(result.elapsedMs < 30000);
        MESSAGE("unreachable host: two events returned after " << result.elapsedMs << " ms");
    }
}

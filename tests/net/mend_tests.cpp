// Behaviours the engine adds to keep bytes, requests and the disk sound:
// bounded redirects, refused over-long texts, HEAD answers without a size,
// no cache copy, https over a secure channel, bad ranges, time-outs.

#include <doctest.h>

#include "FixedHosts.h"
#include "net/DownloadEvents.h"
#include "net/FileTimes.h"
#include "net/HttpDownloader.h"
#include "tests/net/NetTestSupport.h"
#include "tests/support/HarnessEnv.h"
#include "tests/support/Process.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/ServerLog.h"

#include <windows.h>

#include <shlobj.h>

#include <string>
#include <vector>

using harness::Narrow;
using nettest::EventLog;
using nettest::Fetch;

namespace {

WideString CacheFolder()
{
    wchar_t path[MAX_PATH] = {};
    REQUIRE(SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_INTERNET_CACHE, nullptr, 0, path)));
    return path;
}

// Cache files holding this marker (the start of a body).
int CacheCopies(const std::string& marker)
{
    std::vector<WideString> files;
    nettest::ListFiles(CacheFolder(), files);
    int copies = 0;
    for (const WideString& file : files)
        if (harness::ReadWholeFile(file).find(marker) != std::string::npos)
            ++copies;
    return copies;
}

// A GET as a plain WinINet client makes it: flags 0, the body read through.
void PlainGet(const WideString& name)
{
    UniqueHInternet session(::InternetOpenW(L"kovra-tests", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    UniqueHInternet connection(::InternetConnectW(session.get(), KOVRA_DOWNLOAD_HOST, 80, nullptr, nullptr,
                                                  INTERNET_SERVICE_HTTP, 0, 0));
    UniqueHInternet request(::HttpOpenRequestW(connection.get(), L"GET", (L"/" + name).c_str(), nullptr, nullptr,
                                               nullptr, 0, 0));
    REQUIRE(::HttpSendRequestW(request.get(), nullptr, 0, nullptr, 0));
    char buffer[10240];
    DWORD read = 0;
    while (::InternetReadFile(request.get(), buffer, sizeof buffer, &read) && read > 0) {
    }
}

} // namespace

TEST_SUITE("mends")
{
    TEST_CASE_FIXTURE(nettest::ScriptsReset, "redirects are bounded: ten are followed, the eleventh is refused")
    {
        const auto [folder, bytes, stamp] =
            nettest::Serve(nettest::ScriptedFile(L"bound.bin"), L"bound", 3000, 81, 2021, 6, 1);
        harness::ServerLog log("scripted");

        EventLog ten;
        CHECK(Fetch(nettest::ScriptedUrl(L"/x/redirect=10/bound.bin"), folder, ten) == Ok);
        CHECK(harness::ReadWholeFile(folder + L"bound.bin") == bytes);
        auto requests = nettest::RequestsFor(log, "bound.bin");
        CHECK(nettest::Methods(requests) == "HEAD HEAD HEAD HEAD HEAD HEAD HEAD HEAD HEAD HEAD HEAD GET");

        log.Mark();
        EventLog eleven;
        CHECK(Fetch(nettest::ScriptedUrl(L"/x/redirect=11/bound.bin"), folder + L"eleven.bin", eleven) == Failed);
        CHECK(eleven.Summary() == "Message:Too many redirects");
        requests = nettest::RequestsFor(log, "bound.bin");
        CHECK(nettest::Methods(requests) == "HEAD HEAD HEAD HEAD HEAD HEAD HEAD HEAD HEAD HEAD HEAD");
        CHECK_FALSE(nettest::Exists(folder + L"eleven.bin.dul!"));

        // A Location pointing at itself ends the same way instead of looping.
        REQUIRE(harness::ScriptPath(R"({"path": "/loop.bin", "default": {"status": 302, "location": "/loop.bin"}})"));
        log.Mark();
        EventLog loop;
        CHECK(Fetch(nettest::ScriptedUrl(L"/loop.bin"), folder, loop) == Failed);
        CHECK(loop.Summary() == "Message:Too many redirects");
        CHECK(nettest::RequestsFor(log, "/loop.bin").size() == 11);
    }

    TEST_CASE_FIXTURE(nettest::ScriptsReset, "texts over their capacity are refused, never cut into other names")
    {
        const WideString folder = nettest::FreshFolder(L"capacity");
        nettest::PutServerFile(nettest::ScriptedFile(L"cap.bin"), nettest::MakeBytes(2000, 82), 2021, 6, 2, 0, 0, 0);
        harness::ServerLog log("scripted");

        SUBCASE("URL pieces")
        {
            for (const WideString& url : {nettest::ScriptedUrl(L"/" + WideString(1100, L'a') + L"/cap.bin"),
                                            L"http://" + WideString(600, L'h') + L"/cap.bin",
                                            nettest::ScriptedUrl(L"/cap.bin?" + WideString(1100, L'q'))}) {
                EventLog events;
                CHECK(Fetch(url, folder, events) == Failed);
                CHECK(events.Summary() == "Message:URL too long");
            }
            CHECK(nettest::RequestsFor(log, "cap.bin").empty());
        }
        SUBCASE("a redirect to an over-long URL")
        {
            REQUIRE(harness::ScriptPath(R"({"path": "/long-redirect.bin", "default": {"status": 302, "location": "/)" +
                                        std::string(1500, 'x') + R"("}})"));
            EventLog events;
            CHECK(Fetch(nettest::ScriptedUrl(L"/long-redirect.bin"), folder, events) == Failed);
            CHECK(events.Summary() == "Message:URL too long");
            CHECK(nettest::Methods(nettest::RequestsFor(log, "/long-redirect.bin")) == "HEAD");
        }
        SUBCASE("a target path without room for the temporary name")
        {
            const WideString target = folder + WideString(1100 - folder.size(), L't');
            EventLog events;
            CHECK(Fetch(nettest::ScriptedUrl(L"/cap.bin"), target, events) == Failed);
            CHECK(events.Summary() == "FileName:cap.bin TotalSize:2000 Message:Invalid target path");
            CHECK(nettest::Methods(nettest::RequestsFor(log, "/cap.bin")) == "HEAD");

            // A folder target and a URL without a file name.
            EventLog nameless;
            REQUIRE(harness::ScriptPath(R"({"path": "/", "default": {"body": "index"}})"));
            CHECK(Fetch(nettest::ScriptedUrl(L"/"), folder, nameless) == Failed);
            CHECK(nameless.Summary() == "FileName: TotalSize:5 Message:Invalid target path");
        }
        SUBCASE("a file name over 511 characters")
        {
            const std::string name(600, 'n');
            REQUIRE(harness::ScriptPath(R"({"path": "/)" + name + R"(", "default": {"body": "x"}})"));
            EventLog events;
            CHECK(Fetch(nettest::ScriptedUrl(L"/" + harness::Widen(name)), folder, events) == Failed);
            CHECK(events.Summary() == "Message:File name too long");
        }
        SUBCASE("header values over their capacity count as absent")
        {
            // Last-Modified of 600 characters: not a time, so nothing is stamped.
            const std::string date = "Wed, 21 Oct 2015 07:28:00 GMT" + std::string(571, ' ') + "x";
            // text/html past the first 127 characters of Content-Type: not text.
            const std::string type = "application/x-" + std::string(120, 'y') + "; q=text/html";
            REQUIRE(harness::ScriptPath(R"({"path": "/cap.bin", "default": {"lm": ")" + date + R"(", "ctype": ")" +
                                        type + R"("}})"));
            EventLog events;
            CHECK(Fetch(nettest::ScriptedUrl(L"/cap.bin"), folder, events) == Ok);
            CHECK(events.Summary() == "FileName:cap.bin TotalSize:2000 Progress*1 Completed");
            CHECK(GetFileModificationTime((folder + L"cap.bin").c_str()) !=
                  nettest::StampFor(2015, 10, 21, 7, 28, 0));
        }
        SUBCASE("headers over the 20,480-byte buffer: the download still succeeds")
        {
            EventLog events;
            CHECK(Fetch(nettest::ScriptedUrl(L"/x/padheaders=30000/cap.bin"), folder, events) == Ok);
            CHECK(events.Summary() == "FileName:cap.bin TotalSize:2000 Progress*1 Completed");
            CHECK(harness::ReadWholeFile(folder + L"cap.bin") == nettest::MakeBytes(2000, 82));
        }
    }

    TEST_CASE_FIXTURE(nettest::ScriptsReset,
                      "a HEAD without a usable size: the GET's size decides, or else the body's clean end")
    {
        const auto [folder, bytes, stamp] =
            nettest::Serve(nettest::ScriptedFile(L"nosize.bin"), L"nosize", 70000, 83, 2021, 6, 3);
        const WideString final = folder + L"nosize.bin";

        for (const char* length : {"none", "0", "-5", "junk"}) {
            CAPTURE(length);
            ::DeleteFileW(final.c_str());
            REQUIRE(harness::ScriptPath(R"({"path": "/nosize.bin", "steps": [{"method": "HEAD", "length": ")" +
                                        std::string(length) + R"("}]})"));
            EventLog events;
            CHECK(Fetch(nettest::ScriptedUrl(L"/nosize.bin"), folder, events) == Ok);
            CHECK(events.Summary() == "FileName:nosize.bin TotalSize:-1 Progress*7 Completed");
            CHECK(harness::ReadWholeFile(final) == bytes);
            CHECK(GetFileModificationTime(final.c_str()) == stamp);
        }

        // 2 GiB or more does not fit the 32-bit sizes: refused before any event.
        for (const char* length : {"2147483647", "3000000000", "99999999999999999999"}) {
            CAPTURE(length);
            REQUIRE(harness::ScriptPath(R"({"path": "/nosize.bin", "steps": [{"method": "HEAD", "length": ")" +
                                        std::string(length) + R"("}]})"));
            EventLog events;
            CHECK(Fetch(nettest::ScriptedUrl(L"/nosize.bin"), folder, events) == Failed);
            CHECK(events.Summary() == "Message:File too large");
            CHECK_FALSE(nettest::Exists(final + L".dul!"));
        }

        // Without the size, a partial file of this version is continued: its
        // time vouches for its bytes, and the range answer ends it. A path of
        // its own: the answers above may not be in the log yet.
        ::DeleteFileW(final.c_str());
        const std::string resumed = R"({"path": "/resumed/nosize.bin", "default": {"file": "nosize.bin"}, "steps": [)";
        REQUIRE(harness::ScriptPath(resumed + "]}"));
        harness::ServerLog log("scripted");
        EventLog stopped(Progress, 20480);
        CHECK(Fetch(nettest::ScriptedUrl(L"/resumed/nosize.bin"), folder, stopped) == Failed);
        REQUIRE(nettest::SizeOf(final + L".dul!") == 20480);
        REQUIRE(harness::ScriptPath(resumed + R"({"method": "HEAD", "length": "none"}]})"));
        EventLog restarted;
        CHECK(Fetch(nettest::ScriptedUrl(L"/resumed/nosize.bin"), folder, restarted) == Ok);
        CHECK(harness::ReadWholeFile(final) == bytes);
        const auto requests = nettest::RequestsMade(log, "/resumed/nosize.bin", "HEAD GET HEAD GET");
        CHECK(requests[3].Header("Range") == "bytes=20480-");
        CHECK(restarted.FirstProgress() > 20480);

        // No size anywhere: a body that ends cleanly, with the connection or
        // with its last chunk, is the whole file.
        for (const wchar_t* how : {L"unsized;norange", L"chunked;norange", L"chunked;unsized"}) {
            CAPTURE(Narrow(how));
            ::DeleteFileW(final.c_str());
            EventLog unknown;
            CHECK(Fetch(nettest::ScriptedUrl(WideString(L"/x/") + how + L"/nosize.bin"), folder, unknown) == Ok);
            CHECK(unknown.Summary() == "FileName:nosize.bin TotalSize:-1 Progress*7 Completed");
            CHECK(harness::ReadWholeFile(final) == bytes);
            CHECK(GetFileModificationTime(final.c_str()) == stamp);
            CHECK_FALSE(nettest::Exists(final + L".dul!"));
        }

        // Cut without a size: the range the server names ends the file, so
        // the cut is seen, and the next call fetches only what is missing.
        for (const char* how : {"\"unsized\": true", "\"chunked\": true, \"unsized\": true"}) {
            CAPTURE(how);
            ::DeleteFileW(final.c_str());
            const std::string answer = std::string("{") + how + "}";
            REQUIRE(harness::ScriptPath(R"({"path": "/nosize.bin", "steps": [{"method": "GET", "cut": 30000, )" +
                                        std::string(how) + R"(}], "default": )" + answer + "}"));
            harness::ServerLog cutLog("scripted");
            EventLog cut;
            CHECK(Fetch(nettest::ScriptedUrl(L"/nosize.bin"), folder, cut) == Failed);
            CHECK(cut.LastMessage() == L"Error during downloading, network error");
            REQUIRE(nettest::SizeOf(final + L".dul!") == 30000);
            EventLog rest;
            CHECK(Fetch(nettest::ScriptedUrl(L"/nosize.bin"), folder, rest) == Ok);
            CHECK(rest.Summary() == "FileName:nosize.bin TotalSize:-1 Progress*4 Completed");
            CHECK(harness::ReadWholeFile(final) == bytes);
            const auto gets = nettest::RequestsMade(cutLog, "/nosize.bin", "HEAD GET HEAD GET");
            CHECK(gets[3].Header("Range") == "bytes=30000-");
            CHECK(gets[1].bodyBytesSent + gets[3].bodyBytesSent == static_cast<long long>(bytes.size()));
        }

        // Every byte was there when a run ended before the rename: the range
        // past the end is refused with the size of what is on disk.
        ::DeleteFileW(final.c_str());
        REQUIRE(harness::WriteWholeFile(final + L".dul!", bytes));
        REQUIRE(StampFileTimes((final + L".dul!").c_str(), stamp));
        REQUIRE(harness::ScriptPath(R"({"path": "/nosize.bin", "default": {"unsized": true}})"));
        harness::ServerLog wholeLog("scripted");
        EventLog whole;
        CHECK(Fetch(nettest::ScriptedUrl(L"/nosize.bin"), folder, whole) == Ok);
        CHECK(whole.Summary() == "FileName:nosize.bin TotalSize:-1 Completed");
        CHECK(harness::ReadWholeFile(final) == bytes);
        const auto past = nettest::RequestsMade(wholeLog, "/nosize.bin", "HEAD GET");
        CHECK(past[1].status == 416);
    }

    TEST_CASE_FIXTURE(nettest::ScriptsReset, "a 206 that does not say where its bytes go, or leaves a gap, is refused")
    {
        const auto [folder, bytes, stamp] =
            nettest::Serve(nettest::ScriptedFile(L"range.bin"), L"badrange", 5000, 84, 2021, 6, 4);
        const WideString temp = folder + L"range.bin.dul!";
        struct Row {
            int offset;
            const char* crange;
        } rows[] = {{0, "bytes 100-4999/5000"}, {1000, "bytes 1100-4999/5000"}, {1000, "junk"}, {1000, ""},
                    {1000, "bytes */5000"}};
        for (const Row& row : rows) {
            CAPTURE(row.crange);
            if (row.offset > 0) {
                REQUIRE(harness::WriteWholeFile(temp, bytes.substr(0, static_cast<size_t>(row.offset))));
                REQUIRE(StampFileTimes(temp.c_str(), nettest::StampFor(2021, 6, 4, 0, 0, 0)));
            }
            REQUIRE(harness::ScriptPath(R"({"path": "/range.bin", "steps": [{"method": "GET", "crange": ")" +
                                        std::string(row.crange) + R"("}]})"));
            EventLog events;
            CHECK(Fetch(nettest::ScriptedUrl(L"/range.bin"), folder, events) == Failed);
            CHECK(events.Summary() == "FileName:range.bin TotalSize:5000 Message:Unexpected Content-Range");
            // What was there stays, and nothing lands past it.
            CHECK(harness::ReadWholeFile(temp) == bytes.substr(0, static_cast<size_t>(row.offset)));
        }
    }

    TEST_CASE("no copy of the body is left in the platform's cache")
    {
        const WideString folder = nettest::FreshFolder(L"cache");
        // Bodies of this run only: the cache outlives a run.
        const unsigned seed = ::GetTickCount();
        const std::string engine = nettest::MakeBytes(200000, seed);
        const std::string plain = nettest::MakeBytes(200000, seed + 1);
        nettest::PutServerFile(nettest::NginxFile(L"cache-engine.bin"), engine, 2021, 6, 5, 0, 0, 0);
        nettest::PutServerFile(nettest::NginxFile(L"cache-plain.bin"), plain, 2021, 6, 5, 0, 0, 0);

        EventLog events;
        CHECK(Fetch(nettest::NginxUrl(L"cache-engine.bin"), folder, events) == Ok);
        CHECK(harness::ReadWholeFile(folder + L"cache-engine.bin") == engine);
        CHECK(CacheCopies(engine.substr(0, 4096)) == 0);

        // The same search finds the copy a plain client leaves.
        PlainGet(L"cache-plain.bin");
        CHECK(CacheCopies(plain.substr(0, 4096)) == 1);
    }

    TEST_CASE("https goes over a secure channel, never as plain text")
    {
        const WideString folder = nettest::FreshFolder(L"https");
        nettest::PutServerFile(nettest::ScriptedFile(L"tls.bin"), "secret", 2021, 6, 6, 0, 0, 0);
        harness::ServerLog log("scripted");
        EventLog events;
        const WideString url = L"https" + harness::ScriptedBase().substr(4) + L"/tls.bin";
        CHECK(Fetch(url, folder, events) == HeadNotSent);
        CHECK(events.events.empty());
        const auto seen = nettest::RequestsFor(log, "TLS-HANDSHAKE");
        CHECK(seen.size() >= 1);
        CHECK(nettest::RequestsFor(log, "tls.bin").empty());
    }
}

TEST_SUITE("timeouts")
{
    TEST_CASE("a stalled body fails after the time-out, keeping what came")
    {
        const auto [folder, bytes, stamp] =
            nettest::Serve(nettest::ScriptedFile(L"stall.bin"), L"stall", 100000, 87, 2021, 6, 7);
        EventLog events;
        harness::ServerLog log("scripted");
        const ULONGLONG began = ::GetTickCount64();
        CHECK(Fetch(nettest::ScriptedUrl(L"/x/stall=20480;hold=90/stall.bin"), folder, events) == Failed);
        const ULONGLONG elapsed = ::GetTickCount64() - began;
        MESSAGE("stalled body: the call returned after " << elapsed << " ms");
        CHECK(elapsed < 45000); // the server holds for 90 s
        CHECK(events.LastMessage() == L"Error during downloading, network error");
        CHECK(harness::ReadWholeFile(folder + L"stall.bin.dul!") == bytes.substr(0, 20480));
        // The server lets go once the engine has closed: nothing is left
        // to land in the log after this test.
        CHECK(nettest::Methods(nettest::RequestsFor(log, "stall.bin")) == "HEAD GET");
    }

    TEST_CASE("a silent server: the HEAD counts as not sent after the time-out")
    {
        const WideString folder = nettest::FreshFolder(L"silent");
        EventLog events;
        harness::ServerLog log("scripted");
        const ULONGLONG began = ::GetTickCount64();
        CHECK(Fetch(nettest::ScriptedUrl(L"/x/silent;hold=90/silent.bin"), folder, events) == HeadNotSent);
        const ULONGLONG elapsed = ::GetTickCount64() - began;
        MESSAGE("silent server: the call returned after " << elapsed << " ms");
        CHECK(elapsed < 45000);
        CHECK(events.events.empty());
        CHECK(nettest::Methods(nettest::RequestsFor(log, "silent.bin")) == "HEAD");
    }
}

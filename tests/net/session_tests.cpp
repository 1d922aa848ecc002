// The session wrapper on real WinINet handles against the scripted server,
// and file times on real files of the Wine prefix.

#include <doctest.h>

#include "net/FileTimes.h"
#include "net/HttpDate.h"
#include "net/HttpDownloader.h"
#include "tests/net/NetTestSupport.h"
#include "tests/support/HarnessEnv.h"
#include "tests/support/Process.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

using harness::Narrow;

namespace {

// One answered request to the scripted server, direct.
struct Answered {
    UniqueHInternet session;
    UniqueHInternet connection;
    UniqueHInternet request;

    Answered(const wchar_t* verb, const WideString& object)
        : session(::InternetOpenW(L"kovra-tests", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0)),
          connection(::InternetConnectW(session.get(), L"127.0.0.1", static_cast<INTERNET_PORT>(harness::ScriptedPort()),
                                        nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0))
    {
        request = UniqueHInternet(::HttpOpenRequestW(connection.get(), verb, object.c_str(), nullptr, nullptr, nullptr,
                                                     INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
        REQUIRE(request);
        REQUIRE(::HttpSendRequestW(request.get(), nullptr, 0, nullptr, 0));
    }
};

// What PrintHeaders wrote to standard output.
std::string CapturePrint(const HttpDownloader& downloader)
{
    const WideString path = nettest::FreshFolder(L"print") + L"out.txt";
    std::fflush(stdout);
    UniqueCrtFile saved(_dup(1));
    {
        UniqueCrtFile file(_wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, 0600));
        REQUIRE(file);
        _dup2(file.get(), 1);
        downloader.PrintHeaders();
        std::fflush(stdout);
        _dup2(saved.get(), 1);
    }
    return harness::ReadWholeFile(path);
}

} // namespace

TEST_SUITE("session")
{
    TEST_CASE("the owner of a WinINet handle closes it once")
    {
        UniqueHInternet empty;
        CHECK_FALSE(empty);

        // The platform tells the session's callback of each handle it closes,
        // with the context the handle was made with.
        static int closed;
        struct Watch {
            static void CALLBACK Status(HINTERNET, DWORD_PTR context, DWORD status, void*, DWORD)
            {
                closed += status == INTERNET_STATUS_HANDLE_CLOSING && context == 7;
            }
        };
        UniqueHInternet session(::InternetOpenW(L"kovra-tests", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
        REQUIRE(session);
        ::InternetSetStatusCallbackW(session.get(), &Watch::Status);
        closed = 0;
        {
            UniqueHInternet connection(::InternetConnectW(session.get(), L"127.0.0.1", INTERNET_DEFAULT_HTTP_PORT,
                                                          nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 7));
            REQUIRE(connection);
            UniqueHInternet moved(std::move(connection));
            CHECK_FALSE(connection);
            moved.reset();
            CHECK_FALSE(moved);
            CHECK(closed == 1);
        }
        CHECK(closed == 1); // the emptied owners close nothing
    }

    TEST_CASE("FetchHeaders, FindHeader, QueryNumber and PrintHeaders on a real answer")
    {
        nettest::PutServerFile(nettest::ScriptedFile(L"hdr.bin"), nettest::MakeBytes(4321, 1), 2020, 5, 6, 7, 8, 9);
        HttpDownloader downloader;
        CHECK(Narrow(downloader.FindHeader(L"Content-Length: ")).empty()); // no list yet
        CHECK(CapturePrint(downloader).empty());

        Answered answer(L"GET", L"/x/header=X-Kovra:%20first;ctype=text%2Fplain/hdr.bin");
        downloader.FetchHeaders(answer.request.get());
        CHECK(Narrow(downloader.FindHeader(L"HTTP/1.1 ")) == "200 OK"); // the status line is stored first
        CHECK(Narrow(downloader.FindHeader(L"content-length: ")) == "4321");
        CHECK(Narrow(downloader.FindHeader(L"Content-Type: ")) == "text/plain");
        CHECK(Narrow(downloader.FindHeader(L"Last-Modified: ")) == nettest::HttpDateText(2020, 5, 6, 7, 8, 9));
        CHECK(Narrow(downloader.FindHeader(L"X-Kovra: ")) == "first");
        CHECK(downloader.QueryNumber(answer.request.get(), HTTP_QUERY_STATUS_CODE) == 200);
        CHECK(downloader.QueryNumber(answer.request.get(), HTTP_QUERY_CONTENT_LENGTH) == 4321);
        CHECK(downloader.QueryNumber(answer.request.get(), HTTP_QUERY_CONTENT_RANGE) == 0); // not in the answer

        const std::string printed = CapturePrint(downloader);
        CHECK(printed.rfind("HTTP/1.1 200 OK\n", 0) == 0);
        CHECK(printed.find("\nContent-Length: 4321\n") != std::string::npos);
        CHECK(printed.find("\nX-Kovra: first\n") != std::string::npos);
        CHECK(printed.find('\r') == std::string::npos);
        CHECK(printed.back() == '\n');

        // A later FetchHeaders replaces the list.
        Answered ranged(L"GET", L"/x/force206;ctype=text%2Fhtml/hdr.bin");
        downloader.FetchHeaders(ranged.request.get());
        CHECK(Narrow(downloader.FindHeader(L"Content-Type: ")) == "text/html");
        CHECK(Narrow(downloader.FindHeader(L"X-Kovra: ")).empty());
        CHECK(Narrow(downloader.FindHeader(L"Content-Range: bytes ")) == "0-4320/4321");
        CHECK(downloader.QueryNumber(ranged.request.get(), HTTP_QUERY_STATUS_CODE) == 206);
    }

    TEST_CASE("headers larger than the 20,480-byte buffer: the values the download reads, one by one")
    {
        nettest::PutServerFile(nettest::ScriptedFile(L"pad.bin"), nettest::MakeBytes(100, 2), 2020, 5, 6, 7, 8, 9);
        HttpDownloader downloader;

        Answered fits(L"HEAD", L"/x/padheaders=8000/pad.bin");
        downloader.FetchHeaders(fits.request.get());
        CHECK(Narrow(downloader.FindHeader(L"Content-Length: ")) == "100");
        CHECK(Narrow(downloader.FindHeader(L"X-Pad-39: ")).size() == 200);

        Answered big(L"HEAD", L"/x/padheaders=12000;ctype=text%2Fhtml/pad.bin");
        downloader.FetchHeaders(big.request.get());
        CHECK(Narrow(downloader.FindHeader(L"Content-Type: ")) == "text/html");
        CHECK(Narrow(downloader.FindHeader(L"Last-Modified: ")) == "Wed, 06 May 2020 07:08:09 GMT");
        CHECK(Narrow(downloader.FindHeader(L"Content-Length: ")).empty());
        CHECK(Narrow(downloader.FindHeader(L"X-Pad-39: ")).empty());
        CHECK(Narrow(downloader.FindHeader(L"HTTP/1.1 ")).empty());
        CHECK(CapturePrint(downloader) == "Content-Type: text/html\nLast-Modified: Wed, 06 May 2020 07:08:09 GMT\n");
        // Single values still come through their own query.
        CHECK(downloader.QueryNumber(big.request.get(), HTTP_QUERY_STATUS_CODE) == 200);
        CHECK(downloader.QueryNumber(big.request.get(), HTTP_QUERY_CONTENT_LENGTH) == 100);
    }

    TEST_CASE("file times: missing files, stamps read back equal, the invalid time stamps nothing")
    {
        const WideString folder = nettest::FreshFolder(L"times");
        CHECK(GetFileModificationTime((folder + L"missing.bin").c_str()) == kNoFileTime);
        CHECK(GetFileSize64((folder + L"missing.bin").c_str()) == -1);

        const WideString path = folder + L"stamped.bin";
        REQUIRE(harness::WriteWholeFile(path, "abc"));
        CHECK(GetFileSize64(path.c_str()) == 3);
        const long long stamp = ParseHttpDate(L"Wed, 21 Oct 2015 07:28:00 GMT");
        REQUIRE(StampFileTimes(path.c_str(), stamp));
        CHECK(GetFileModificationTime(path.c_str()) == stamp);

        CHECK_FALSE(StampFileTimes(path.c_str(), kInvalidTime));
        CHECK(GetFileModificationTime(path.c_str()) == stamp);

        // Through an open descriptor, as the download stamps each chunk.
        UniqueCrtFile file(_wopen(path.c_str(), _O_RDWR | _O_BINARY));
        REQUIRE(file);
        REQUIRE(_write(file.get(), "more", 4) == 4);
        const long long later = ParseHttpDate(L"Thu, 22 Oct 2015 07:28:00 GMT");
        REQUIRE(StampOpenFileTimes(file.get(), later));
        file.reset();
        CHECK(GetFileModificationTime(path.c_str()) == later);
        CHECK(later - stamp == 86400);
    }
}

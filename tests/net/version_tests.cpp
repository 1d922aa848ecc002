// A partial or complete temporary file belongs to one version of the
// server's file (its Last-Modified time, stamped on it). The scripted server
// swaps the file between and during calls: other bytes, other time, smaller
// and larger; the result must always be exactly the server's current file.

#include <doctest.h>

#include "net/DownloadEvents.h"
#include "net/FileTimes.h"
#include "tests/net/NetTestSupport.h"
#include "tests/support/Process.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/ServerLog.h"

#include <string>

using nettest::EventLog;
using nettest::Fetch;

namespace {

struct Version {
    std::string bytes;
    int day; // 2021-05-<day> 10:00:00 UTC

    void Serve(const WideString& name) const
    {
        nettest::PutServerFile(nettest::ScriptedFile(name), bytes, 2021, 5, day, 10, 0, 0);
    }
    long long Stamp() const { return nettest::StampFor(2021, 5, day, 10, 0, 0); }
    std::string Date() const { return nettest::HttpDateText(2021, 5, day, 10, 0, 0); }
};

// A case's fresh folder, left with what a first call of version a leaves
// when the callback stops it once `stopAt` bytes are in.
WideString LeaveTemp(const WideString& folderName, const WideString& name, const Version& a, int stopAt,
                     const WideString& url = WideString())
{
    const WideString folder = nettest::FreshFolder(folderName);
    a.Serve(name);
    EventLog events(Progress, stopAt);
    CHECK(Fetch(url.empty() ? nettest::ScriptedUrl(L"/" + name) : url, folder, events) == Failed);
    const WideString temp = folder + name + L".dul!";
    REQUIRE(harness::ReadWholeFile(temp) == a.bytes.substr(0, static_cast<size_t>(stopAt)));
    REQUIRE(GetFileModificationTime(temp.c_str()) == a.Stamp());
    return folder;
}

// A call that brings the whole of version v.
void FetchWhole(const WideString& folder, const WideString& name, const Version& v)
{
    EventLog events;
    CHECK(Fetch(nettest::ScriptedUrl(L"/" + name), folder, events) == Ok);
    nettest::CheckFinal(folder + name, v.bytes, v.Stamp());
}

} // namespace

TEST_SUITE("versions")
{
    TEST_CASE("a temporary file of one version, partial or complete, is never finished with another's bytes")
    {
        struct Row {
            Version a;
            int kept;
            std::vector<Version> others;
        };
        const Row rows[] = {
            {{nettest::MakeBytes(100000, 31), 1},
             30720,
             {
                 {nettest::MakeBytes(100000, 32), 2}, // same size
                 {nettest::MakeBytes(150000, 33), 3}, // larger
                 {nettest::MakeBytes(50000, 34), 4},  // smaller
                 {nettest::MakeBytes(20000, 35), 5},  // smaller than the part already here
             }},
            // Complete: never renamed into place.
            {{nettest::MakeBytes(60000, 41), 6},
             60000,
             {
                 {nettest::MakeBytes(60000, 42), 7}, // same size: only the time tells
                 {nettest::MakeBytes(40000, 43), 8}, // smaller: the old file is "not smaller than the total"
                 {nettest::MakeBytes(90000, 44), 9},
             }},
        };
        for (const Row& row : rows) {
            for (const Version& b : row.others) {
                CAPTURE(row.kept);
                CAPTURE(b.bytes.size());
                harness::ServerLog log("scripted");
                const WideString folder = LeaveTemp(L"other-version", L"ver.bin", row.a, row.kept);
                b.Serve(L"ver.bin");
                FetchWhole(folder, L"ver.bin", b);
                const auto requests = nettest::RequestsMade(log, "/ver.bin", "HEAD GET HEAD GET");
                CHECK(requests[3].Header("Range") == "bytes=0-");
                CHECK_FALSE(requests[3].HasHeader("If-Range"));
            }
        }
    }

    TEST_CASE_FIXTURE(nettest::ScriptsReset, "the file changes between HEAD and GET: If-Range brings the new one whole")
    {
        const Version a{nettest::MakeBytes(100000, 51), 10};
        const Version b{nettest::MakeBytes(90000, 52), 11};
        harness::ServerLog log("scripted");
        const WideString folder = LeaveTemp(L"if-range", L"race.bin", a, 30720);
        b.Serve(L"race.bin");
        // The HEAD still describes version a; the GET meets version b.
        REQUIRE(harness::ScriptPath(R"({"path": "/race.bin", "steps": [{"method": "HEAD", "lm": ")" + a.Date() +
                                    R"(", "length": "100000"}]})"));
        EventLog events;
        CHECK(Fetch(nettest::ScriptedUrl(L"/race.bin"), folder, events) == Ok);
        CHECK(events.FirstProgress() > 0);
        CHECK(events.FirstProgress() <= 10240); // from 0 again
        CHECK(events.LastProgress() == 90000);
        CHECK(events.LastEvent() == Completed);
        nettest::CheckFinal(folder + L"race.bin", b.bytes, b.Stamp());
        nettest::CheckRangedGet(nettest::RequestsMade(log, "/race.bin", "HEAD GET HEAD GET")[3], 30720, a.Date(), 200);
    }

    TEST_CASE_FIXTURE(nettest::ScriptsReset,
                      "a server that ignores If-Range: another version's part is refused, the next call starts over")
    {
        const Version a{nettest::MakeBytes(100000, 61), 12};
        const Version b{nettest::MakeBytes(110000, 62), 13};
        harness::ServerLog log("scripted");
        const WideString folder = LeaveTemp(L"no-if-range", L"deaf.bin", a, 30720);
        b.Serve(L"deaf.bin");
        REQUIRE(harness::ScriptPath(R"({"path": "/deaf.bin", "steps": [{"method": "HEAD", "lm": ")" + a.Date() +
                                    R"(", "length": "100000"}, {"method": "GET", "noifrange": true}]})"));
        EventLog events;
        CHECK(Fetch(nettest::ScriptedUrl(L"/deaf.bin"), folder, events) == Failed);
        CHECK(events.Summary() == "FileName:deaf.bin TotalSize:100000 Message:File changed on the server");
        CHECK(nettest::SizeOf(folder + L"deaf.bin.dul!") == 0);
        CHECK_FALSE(nettest::Exists(folder + L"deaf.bin"));
        auto requests = nettest::RequestsMade(log, "/deaf.bin", "HEAD GET HEAD GET");
        CHECK(requests[3].status == 206); // the server did send the other version's part

        FetchWhole(folder, L"deaf.bin", b);
    }

    TEST_CASE_FIXTURE(nettest::ScriptsReset,
                      "a GET redirected to a copy of another version: refused whatever the copy's server does")
    {
        const Version a{nettest::MakeBytes(100000, 81), 15};
        const Version b{nettest::MakeBytes(100000, 82), 16};
        harness::ServerLog log("scripted");
        const WideString folder = LeaveTemp(L"moved", L"moved.bin", a, 30720);
        // The HEAD still finds version a; the GETs are sent to a copy that is
        // version b and deaf to If-Range.
        b.Serve(L"moved-b.bin");
        const std::string hop = R"({"method": "GET", "status": 302, "location": "/cdn/moved.bin"})";
        REQUIRE(harness::ScriptPath(R"({"path": "/moved.bin", "steps": [)" + hop + ", " + hop + "]}"));
        REQUIRE(harness::ScriptPath(R"({"path": "/cdn/moved.bin", "default": {"file": "moved-b.bin", "noifrange": true}})"));
        EventLog events;
        CHECK(Fetch(nettest::ScriptedUrl(L"/moved.bin"), folder, events) == Failed);
        CHECK(events.Summary() == "FileName:moved.bin TotalSize:100000 Message:File changed on the server");
        CHECK(nettest::SizeOf(folder + L"moved.bin.dul!") == 0);
        auto requests = nettest::RequestsMade(log, "moved.bin", "HEAD GET HEAD GET GET");
        CHECK(requests[4].target == "/cdn/moved.bin");
        nettest::CheckRangedGet(requests[4], 30720, a.Date(), 206); // the copy did send version b's part

        // Started again from 0, the copy's file comes whole.
        FetchWhole(folder, L"moved.bin", b);
    }

    TEST_CASE("a HEAD refused, the whole file on disk: a 416 that names its version finishes it, nginx's starts over")
    {
        // nginx's 416 has no Last-Modified: nothing says the bytes are still
        // the server's, so they are fetched again.
        const Version a{nettest::MakeBytes(50000, 93), 19};
        nettest::PutServerFile(nettest::NginxFile(L"rwhole.bin"), a.bytes, 2021, 5, 19, 10, 0, 0);
        for (const bool nginx : {false, true}) {
            CAPTURE(nginx);
            const WideString url =
                nginx ? nettest::NginxUrl(L"signed/rwhole.bin") : nettest::ScriptedUrl(L"/x/refusehead=405/rwhole.bin");
            harness::ServerLog log(nginx ? "nginx" : "scripted");
            const WideString folder = LeaveTemp(L"refused-whole", L"rwhole.bin", a, 50000, url);
            EventLog second, third;
            Fetch(url, folder, second);
            CHECK(second.Summary() == (nginx ? "FileName:rwhole.bin TotalSize:-1 Message:File changed on the server"
                                             : "FileName:rwhole.bin TotalSize:50000 Completed"));
            if (nginx)
                CHECK(Fetch(url, folder, third) == Ok);
            nettest::CheckFinal(folder + L"rwhole.bin", a.bytes, a.Stamp());
            const auto requests =
                nettest::RequestsMade(log, "rwhole.bin", nginx ? "HEAD GET HEAD GET HEAD GET" : "HEAD GET HEAD GET");
            nettest::CheckRangedGet(requests[3], 50000, a.Date(), 416);
        }
    }

    TEST_CASE("an unchanged file is continued through the same check")
    {
        const Version a{nettest::MakeBytes(70000, 71), 14};
        harness::ServerLog log("scripted");
        const WideString folder = LeaveTemp(L"unchanged", L"same.bin", a, 40960);
        EventLog events;
        CHECK(Fetch(nettest::ScriptedUrl(L"/same.bin"), folder, events) == Ok);
        CHECK(events.FirstProgress() > 40960);
        nettest::CheckFinal(folder + L"same.bin", a.bytes, a.Stamp());
        nettest::CheckRangedGet(nettest::RequestsMade(log, "/same.bin", "HEAD GET HEAD GET")[3], 40960, a.Date(), 206);
    }
}

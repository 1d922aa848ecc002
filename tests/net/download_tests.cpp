// HttpDownloader::Download against nginx (the download host, through the
// proxy) and the scripted server (direct): what lands on disk, which requests
// the servers saw, and which events came in which order.

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

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

using harness::Narrow;
using nettest::CheckFinal;
using nettest::EventLog;
using nettest::Fetch;

namespace {

// Checks made on the files at every Progress event.
struct Watch {
    WideString temp;
    WideString final;
    long long stamp = 0;
    int progress = 0;
    int hidden = 0;
    int sized = 0;
    int stamped = 0;
    int finalAbsent = 0;
};

void WatchFiles(EventLog& log, int count)
{
    Watch& watch = *static_cast<Watch*>(log.user);
    ++watch.progress;
    watch.hidden += nettest::IsHiddenAfterStamp(watch.temp);
    watch.sized += nettest::SizeOf(watch.temp) == count;
    watch.stamped += GetFileModificationTime(watch.temp.c_str()) == watch.stamp;
    watch.finalAbsent += !nettest::Exists(watch.final);
}

// Progress counts grow by at most one chunk each, from a start to an end.
void CheckProgress(const EventLog& events, int after, int last)
{
    const std::vector<int> counts = events.ProgressCounts();
    REQUIRE_FALSE(counts.empty());
    CHECK(counts.front() > after);
    CHECK(counts.front() <= after + 10240);
    CHECK(counts.back() == last);
    for (size_t i = 1; i < counts.size(); ++i) {
        CHECK(counts[i] > counts[i - 1]);
        CHECK(counts[i] - counts[i - 1] <= 10240);
    }
}

// What a call stopped mid-way leaves: the bytes so far in the hidden
// temporary file, stamped with the version, and no final file.
void CheckLeftTemp(const WideString& final, const std::string& kept, long long stamp)
{
    const WideString temp = final + L".dul!";
    CHECK(harness::ReadWholeFile(temp) == kept);
    CHECK(nettest::IsHiddenAfterStamp(temp));
    CHECK(GetFileModificationTime(temp.c_str()) == stamp);
    CHECK_FALSE(nettest::Exists(final));
}

// Leaves a temporary file as an earlier call would have: bytes and a time.
void PutTemp(const WideString& temp, const std::string& bytes, long long stamp)
{
    REQUIRE(harness::WriteWholeFile(temp, bytes));
    ::SetFileAttributesW(temp.c_str(), FILE_ATTRIBUTE_HIDDEN);
    REQUIRE(StampFileTimes(temp.c_str(), stamp));
}

const char* kNetworkError = "Message:Error during downloading, network error";

} // namespace

TEST_SUITE("download")
{
    TEST_CASE("a fresh download: Range from 0, hidden while incomplete, stamped and unhidden when done")
    {
        const auto [folder, bytes, stamp] =
            nettest::Serve(nettest::NginxFile(L"fresh.bin"), L"fresh", 300000, 11, 2021, 3, 4, 5, 6, 7);

        Watch watch;
        watch.temp = folder + L"fresh.bin.dul!";
        watch.final = folder + L"fresh.bin";
        watch.stamp = stamp;
        EventLog events;
        events.user = &watch;
        events.onProgress = WatchFiles;
        harness::ServerLog log("nginx");
        CHECK(Fetch(nettest::NginxUrl(L"fresh.bin"), folder, events) == Ok);

        CHECK(events.Summary() == "FileName:fresh.bin TotalSize:300000 Progress*30 Completed");
        CheckProgress(events, 0, 300000);
        CHECK(watch.progress == 30);
        CHECK(watch.hidden == 30);
        CHECK(watch.sized == 30);
        CHECK(watch.stamped == 30); // the version survives a kill at any chunk
        CHECK(watch.finalAbsent == 30);
        CheckFinal(watch.final, bytes, stamp);

        const auto requests = nettest::RequestsMade(log, "/fresh.bin", "HEAD GET");
        const std::string url = "http://" + Narrow(KOVRA_DOWNLOAD_HOST) + ":80/fresh.bin";
        CHECK(requests[0].target == url);
        CHECK(requests[1].target == url);
        CHECK(requests[0].Header("User-Agent") == "KovraLoader");
        CHECK(requests[0].Header("Accept") == "*/*");
        CHECK_FALSE(requests[0].HasHeader("Range"));
        CHECK(requests[1].Header("Range") == "bytes=0-");
        CHECK_FALSE(requests[1].HasHeader("If-Range"));
        CHECK(requests[1].status == 206);
        CHECK(requests[1].bodyBytesSent == 300000);
    }

    TEST_CASE("a stopped transfer is resumed from its size with If-Range, Progress going on from there")
    {
        const auto [folder, bytes, stamp] =
            nettest::Serve(nettest::NginxFile(L"resume.bin"), L"resume", 200000, 12, 2021, 3, 5, 1, 2, 3);
        // Marked before the first call: the server logs a stopped GET late.
        harness::ServerLog log("nginx");

        EventLog first(Progress, 30720);
        CHECK(Fetch(nettest::NginxUrl(L"resume.bin"), folder, first) == Failed);
        CHECK(first.Summary() == std::string("FileName:resume.bin TotalSize:200000 Progress*3 ") + kNetworkError);
        CheckLeftTemp(folder + L"resume.bin", bytes.substr(0, 30720), stamp);

        EventLog second;
        CHECK(Fetch(nettest::NginxUrl(L"resume.bin"), folder, second) == Ok);
        CheckProgress(second, 30720, 200000);
        CHECK(second.Summary().rfind("FileName:resume.bin TotalSize:200000 Progress*", 0) == 0);
        CheckFinal(folder + L"resume.bin", bytes, stamp);
        const auto requests = nettest::RequestsMade(log, "/resume.bin", "HEAD GET HEAD GET");
        CHECK(requests[1].Header("Range") == "bytes=0-");
        nettest::CheckRangedGet(requests[3], 30720, nettest::HttpDateText(2021, 3, 5, 1, 2, 3), 206);
        CHECK(requests[3].bodyBytesSent == 200000 - 30720);
    }

    TEST_CASE_FIXTURE(nettest::ScriptsReset,
                      "a connection cut mid-way leaves exactly the bytes received; the next call asks for the rest")
    {
        const auto [folder, bytes, stamp] =
            nettest::Serve(nettest::ScriptedFile(L"cut.bin"), L"cut", 120000, 13, 2021, 4, 1);
        REQUIRE(harness::ScriptPath(R"({"path": "/cut.bin", "steps": [{"method": "GET", "cut": 25000}]})"));
        const WideString temp = folder + L"cut.bin.dul!";

        EventLog first;
        harness::ServerLog log("scripted");
        CHECK(Fetch(nettest::ScriptedUrl(L"/cut.bin"), folder, first) == Failed);
        CHECK(first.LastMessage() == L"Error during downloading, network error");
        const std::vector<int> counts = first.ProgressCounts();
        REQUIRE_FALSE(counts.empty());
        const long long kept = nettest::SizeOf(temp);
        CHECK(kept == counts.back());
        CHECK(kept <= 25000);
        CHECK(kept >= 20480);
        CHECK(harness::ReadWholeFile(temp) == bytes.substr(0, static_cast<size_t>(kept)));
        CHECK(nettest::IsHiddenAfterStamp(temp));

        EventLog second;
        CHECK(Fetch(nettest::ScriptedUrl(L"/cut.bin"), folder, second) == Ok);
        CheckProgress(second, static_cast<int>(kept), 120000);
        CheckFinal(folder + L"cut.bin", bytes, nettest::StampFor(2021, 4, 1, 0, 0, 0));
        const auto requests = nettest::RequestsMade(log, "/cut.bin", "HEAD GET HEAD GET");
        CHECK(requests[1].Header("Range") == "bytes=0-");
        nettest::CheckRangedGet(requests[3], kept, nettest::HttpDateText(2021, 4, 1, 0, 0, 0), 206);
    }

    TEST_CASE("a server ignoring Range: writing starts again at 0 and the file is cut to what came")
    {
        const auto [folder, bytes, stamp] =
            nettest::Serve(nettest::ScriptedFile(L"ign.bin"), L"norange", 100000, 14, 2021, 4, 2);
        const WideString temp = folder + L"ign.bin.dul!";
        // A longer partial file of the same version: its tail must not survive.
        PutTemp(temp, bytes.substr(0, 20480), stamp);

        EventLog events;
        harness::ServerLog log("scripted");
        CHECK(Fetch(nettest::ScriptedUrl(L"/x/norange/ign.bin"), folder, events) == Ok);
        CheckProgress(events, 0, 100000); // from 0 again, not from 20480
        CheckFinal(folder + L"ign.bin", bytes, stamp);
        const auto requests = nettest::RequestsMade(log, "/ign.bin", "HEAD GET");
        nettest::CheckRangedGet(requests[1], 20480, nettest::HttpDateText(2021, 4, 2, 0, 0, 0), 200);
    }

    TEST_CASE("a temporary file holding the whole file: no GET, stamped and renamed")
    {
        const auto [folder, bytes, stamp] =
            nettest::Serve(nettest::NginxFile(L"whole.bin"), L"whole", 50000, 15, 2021, 4, 3);

        // A stop on the completing chunk leaves the whole file behind.
        EventLog first(Progress, 50000);
        CHECK(Fetch(nettest::NginxUrl(L"whole.bin"), folder, first) == Failed);
        CHECK(first.Summary() == "FileName:whole.bin TotalSize:50000 Progress*5 Aborted");
        CheckLeftTemp(folder + L"whole.bin", bytes, stamp);

        EventLog second;
        harness::ServerLog log("nginx");
        CHECK(Fetch(nettest::NginxUrl(L"whole.bin"), folder, second) == Ok);
        CHECK(second.Summary() == "FileName:whole.bin TotalSize:50000 Completed");
        CheckFinal(folder + L"whole.bin", bytes, stamp);
        CHECK(nettest::Methods(nettest::RequestsFor(log, "/whole.bin")) == "HEAD");
    }

    TEST_CASE("a temporary file longer than the total is not this version: fetched again from 0")
    {
        const auto [folder, bytes, stamp] =
            nettest::Serve(nettest::NginxFile(L"longer.bin"), L"longer", 40000, 16, 2021, 4, 4);
        PutTemp(folder + L"longer.bin.dul!", bytes + "tail of something else", stamp);

        EventLog events;
        harness::ServerLog log("nginx");
        CHECK(Fetch(nettest::NginxUrl(L"longer.bin"), folder, events) == Ok);
        CheckProgress(events, 0, 40000);
        CheckFinal(folder + L"longer.bin", bytes, stamp);
        const auto requests = nettest::RequestsMade(log, "/longer.bin", "HEAD GET");
        CHECK(requests[1].Header("Range") == "bytes=0-");
    }

    TEST_CASE("the final file already there with the server's time and size: no GET, untouched")
    {
        const auto [folder, bytes, stamp] =
            nettest::Serve(nettest::NginxFile(L"present.bin"), L"present", 30000, 17, 2021, 4, 5);
        const WideString final = folder + L"present.bin";
        // Same size and time, other bytes: only time and size are compared.
        const std::string local = nettest::MakeBytes(30000, 99);
        REQUIRE(harness::WriteWholeFile(final, local));
        REQUIRE(StampFileTimes(final.c_str(), stamp));

        EventLog events;
        harness::ServerLog log("nginx");
        CHECK(Fetch(nettest::NginxUrl(L"present.bin"), folder, events) == Ok);
        CHECK(events.Summary() == "FileName:present.bin TotalSize:30000 Message:File exists, aborting");
        CHECK(harness::ReadWholeFile(final) == local);
        CHECK(GetFileModificationTime(final.c_str()) == stamp);
        CHECK_FALSE(nettest::Exists(final + L".dul!"));
        CHECK(nettest::Methods(nettest::RequestsFor(log, "/present.bin")) == "HEAD");
    }

    TEST_CASE("a final file differing in size or time is downloaded again and replaced")
    {
        const auto [folder, bytes, stamp] =
            nettest::Serve(nettest::NginxFile(L"differ.bin"), L"differ", 30000, 18, 2021, 4, 6);
        const WideString final = folder + L"differ.bin";

        struct Row {
            const char* what;
            std::string local;
            long long time;
        } rows[] = {
            {"same time, other size", nettest::MakeBytes(29999, 5), stamp},
            {"same size, other time", nettest::MakeBytes(30000, 6), stamp - 1},
        };
        for (const Row& row : rows) {
            CAPTURE(row.what);
            REQUIRE(harness::WriteWholeFile(final, row.local));
            REQUIRE(StampFileTimes(final.c_str(), row.time));
            EventLog events;
            harness::ServerLog log("nginx");
            CHECK(Fetch(nettest::NginxUrl(L"differ.bin"), folder, events) == Ok);
            CHECK(events.Summary() == "FileName:differ.bin TotalSize:30000 Progress*3 Completed");
            CheckFinal(final, bytes, stamp);
            CHECK(nettest::Methods(nettest::RequestsFor(log, "/differ.bin")) == "HEAD GET");
        }
    }

    TEST_CASE("no Last-Modified: never counted as present, a partial file starts over, times left alone")
    {
        const auto [folder, bytes, stamp] =
            nettest::Serve(nettest::ScriptedFile(L"nolm.bin"), L"nolm", 60000, 19, 2019, 1, 1);
        // A strong ETag vouches only within one run (one downloader): each
        // call here is a run of its own.
        const WideString url = nettest::ScriptedUrl(L"/x/lm=none;etag=%22t1%22/nolm.bin");
        const WideString final = folder + L"nolm.bin";
        harness::ServerLog log("scripted");

        EventLog first;
        CHECK(Fetch(url, folder, first) == Ok);
        CHECK(harness::ReadWholeFile(final) == bytes);
        CHECK_FALSE(nettest::IsHidden(final));
        // Not stamped: the time is the time of writing, not 2019.
        CHECK(GetFileModificationTime(final.c_str()) >= _time64(nullptr) - 600);

        EventLog second;
        CHECK(Fetch(url, folder, second) == Ok);
        CHECK(second.Summary() == "FileName:nolm.bin TotalSize:60000 Progress*6 Completed");

        EventLog stopped(Progress, 20480);
        CHECK(Fetch(url, folder, stopped) == Failed);
        CHECK(nettest::SizeOf(final + L".dul!") == 20480);
        EventLog third;
        CHECK(Fetch(url, folder, third) == Ok);
        CheckProgress(third, 0, 60000);
        CHECK(harness::ReadWholeFile(final) == bytes);

        const auto requests = nettest::RequestsMade(log, "/nolm.bin", "HEAD GET HEAD GET HEAD GET HEAD GET");
        CHECK(requests[7].Header("Range") == "bytes=0-");
        CHECK_FALSE(requests[7].HasHeader("If-Range"));
    }

    TEST_CASE("without a callback the download runs to its end and returns the same codes")
    {
        const auto [folder, bytes, stamp] =
            nettest::Serve(nettest::NginxFile(L"nocb.bin"), L"nocallback", 45000, 20, 2021, 4, 7);
        HttpDownloader downloader;
        CHECK(downloader.Download(nettest::NginxUrl(L"nocb.bin").c_str(), folder.c_str(), nullptr, nullptr) == Ok);
        CheckFinal(folder + L"nocb.bin", bytes, nettest::StampFor(2021, 4, 7, 0, 0, 0));
        CHECK(downloader.Download(nettest::NginxUrl(L"nocb.bin").c_str(), folder.c_str(), nullptr, nullptr) == Ok);
        CHECK(downloader.Download(nettest::NginxUrl(L"missing.bin").c_str(), folder.c_str(), nullptr, nullptr) ==
              UnexpectedStatus);
        CHECK(downloader.Download(L"gopher://h/x", folder.c_str(), nullptr, nullptr) == UnsupportedScheme);
        // A file path as the target, written with forward slashes.
        WideString target = folder + L"renamed.exe";
        for (wchar_t& c : target)
            if (c == L'\\')
                c = L'/';
        CHECK(downloader.Download(nettest::NginxUrl(L"nocb.bin").c_str(), target.c_str(), nullptr, nullptr) == Ok);
        CHECK(harness::ReadWholeFile(folder + L"renamed.exe") == bytes);
    }

    TEST_CASE_FIXTURE(nettest::ScriptsReset, "redirects start the events again for the new URL, relative ones included")
    {
        const auto [folder, bytes, stamp] =
            nettest::Serve(nettest::ScriptedFile(L"target.bin"), L"redirect", 25000, 21, 2021, 4, 8);
        const std::string location = harness::Narrow(nettest::ScriptedUrl(L"/target.bin"));
        REQUIRE(harness::ScriptPath(R"({"path": "/start.bin", "default": {"status": 302, "location": ")" + location +
                                    R"("}})"));
        harness::ServerLog log("scripted");

        EventLog events;
        CHECK(Fetch(nettest::ScriptedUrl(L"/start.bin"), folder, events) == Ok);
        CHECK(events.Summary() == "FileName:target.bin TotalSize:25000 Progress*3 Completed");
        CheckFinal(folder + L"target.bin", bytes, nettest::StampFor(2021, 4, 8, 0, 0, 0));
        CHECK_FALSE(nettest::Exists(folder + L"start.bin"));
        auto requests = nettest::RequestsMade(log, ".bin", "HEAD HEAD GET");
        CHECK(requests[0].target == "/start.bin");
        CHECK(requests[0].status == 302);
        CHECK(requests[1].target == "/target.bin");
        CHECK(requests[2].target == "/target.bin");

        // A chain of relative Locations.
        log.Mark();
        EventLog chain;
        CHECK(Fetch(nettest::ScriptedUrl(L"/x/redirect=3/target.bin"), folder + L"chained.bin", chain) == Ok);
        CHECK(chain.Summary() == "FileName:target.bin TotalSize:25000 Progress*3 Completed");
        CHECK(harness::ReadWholeFile(folder + L"chained.bin") == bytes);
        requests = nettest::RequestsMade(log, "target.bin", "HEAD HEAD HEAD HEAD GET");
        CHECK(requests[0].status == 302);
        CHECK(requests[2].status == 302);
        CHECK(requests[3].target == "/x/redirect=0/target.bin");
        CHECK(requests[4].target == requests[3].target);

        // Every redirect status the platform would have followed itself.
        for (int status : {301, 303, 307, 308}) {
            CAPTURE(status);
            REQUIRE(harness::ScriptPath(R"({"path": "/hop.bin", "default": {"status": )" + std::to_string(status) +
                                        R"(, "location": "target.bin"}})"));
            log.Mark();
            EventLog hop;
            const WideString target = folder + L"hop" + std::to_wstring(status).c_str() + L".out";
            CHECK(Fetch(nettest::ScriptedUrl(L"/hop.bin"), target, hop) == Ok);
            CHECK(harness::ReadWholeFile(target) == bytes);
            CHECK(hop.Summary() == "FileName:target.bin TotalSize:25000 Progress*3 Completed");
            requests = nettest::RequestsMade(log, ".bin", "HEAD HEAD GET");
            CHECK(requests[0].status == status);
            CHECK(requests[2].target == "/target.bin");
        }

        // The GET alone redirected, as object stores sign GET URLs: the range
        // goes along, the name stays the first URL's. Never to another
        // scheme, and not for ever.
        REQUIRE(harness::ScriptPath(R"({"path": "/signed/target.bin", "default": {"file": "target.bin"}})"));
        const std::string signedAt = harness::Narrow(nettest::ScriptedUrl(L"/signed/target.bin?sig=a@b.example"));
        const struct {
            std::string location;
            int result;
            const char* summary; // after the HEAD's "FileName:get-hop.bin TotalSize:25000 "
            size_t requests;     // HEAD, then GETs
            const char* arrived; // the last GET's target
        } gets[] = {
            {"signed/target.bin?sig=1", Ok, "Progress*3 Completed", 3, "/signed/target.bin?sig=1"},
            // An "@" in the query of an absolute Location: the same server.
            {signedAt, Ok, "Progress*3 Completed", 3, "/signed/target.bin?sig=a@b.example"},
            {"ftp://127.0.0.1/target.bin", Failed, "Message:Protocol not supported", 2, ""},
            {"/x/redirect=11/target.bin", Failed, "Message:Too many redirects", 12, ""},
        };
        for (const auto& row : gets) {
            CAPTURE(row.location);
            REQUIRE(harness::ScriptPath(R"({"path": "/get-hop.bin", "steps": [{"method": "GET", "status": 302, )"
                                        R"("location": ")" + row.location +
                                        R"("}], "default": {"file": "target.bin"}})"));
            const WideString target = nettest::FreshFolder(L"get-redirect");
            log.Mark();
            EventLog hop;
            CHECK(Fetch(nettest::ScriptedUrl(L"/get-hop.bin"), target, hop) == row.result);
            CHECK(hop.Summary() == std::string("FileName:get-hop.bin TotalSize:25000 ") + row.summary);
            requests = nettest::RequestsFor(log, ".bin");
            REQUIRE(requests.size() == row.requests);
            CHECK(requests[0].method == "HEAD");
            CHECK(requests[1].status == 302);
            if (row.result == Ok) {
                CHECK(harness::ReadWholeFile(target + L"get-hop.bin") == bytes);
                CHECK(requests[2].target == row.arrived);
                CHECK(requests[2].Header("Range") == "bytes=0-");
                CHECK(requests[2].status == 206);
            }
        }
    }

    TEST_CASE_FIXTURE(nettest::ScriptsReset,
                      "a HEAD refused with 403, 405 or 501: the ranged GET alone does the probe's work")
    {
        const std::string bytes = nettest::MakeBytes(70000, 24);
        const long long stamp =
            nettest::PutServerFile(nettest::ScriptedFile(L"refused.bin"), bytes, 2021, 4, 13, 0, 0, 0);
        // The GET may be sent on to a signed URL with an "@" in its query.
        REQUIRE(harness::ScriptPath(R"({"path": "/refhop.bin", "steps": [{"method": "GET", "status": 302, )"
                                    R"("location": "/x/refusehead=403/refused.bin?sig=a@b.example"}], )"
                                    R"("default": {"file": "refused.bin", "refusehead": 403}})"));
        const struct {
            const wchar_t* path;
            int kept;            // bytes an earlier run left, stamped with the version
            const char* methods; // and the statuses the server sent
            const char* get;     // the last GET's target
        } rows[] = {
            {L"/x/refusehead=403/refused.bin", 0, "HEAD:403 GET:206", "/x/refusehead=403/refused.bin"},
            {L"/x/refusehead=405/refused.bin", 0, "HEAD:405 GET:206", "/x/refusehead=405/refused.bin"},
            {L"/x/refusehead=501/refused.bin", 30720, "HEAD:501 GET:206", "/x/refusehead=501/refused.bin"},
            {L"/x/redirect=1;refusehead=403/refused.bin", 0, "HEAD:302 HEAD:403 GET:206",
             "/x/refusehead=403;redirect=0/refused.bin"},
            {L"/refhop.bin", 0, "HEAD:403 GET:302 GET:206", "/x/refusehead=403/refused.bin?sig=a@b.example"},
        };
        for (const auto& row : rows) {
            CAPTURE(Narrow(row.path));
            const WideString folder = nettest::FreshFolder(L"refused");
            const std::string name = Narrow(row.path).substr(Narrow(row.path).rfind('/') + 1);
            if (row.kept)
                PutTemp(folder + harness::Widen(name) + L".dul!", bytes.substr(0, row.kept), stamp);
            harness::ServerLog log("scripted");
            EventLog events;
            CHECK(Fetch(nettest::ScriptedUrl(row.path), folder, events) == Ok);
            CHECK(events.Summary().rfind("FileName:" + name + " TotalSize:70000 Progress*", 0) == 0);
            CheckProgress(events, row.kept, 70000);
            CheckFinal(folder + harness::Widen(name), bytes, stamp);
            const auto requests = nettest::RequestsFor(log, ".bin");
            std::string seen;
            for (const harness::LogEntry& request : requests)
                seen += (seen.empty() ? "" : " ") + request.method + ":" + std::to_string(request.status);
            CHECK(seen == row.methods);
            // One GET for the rest: the version the file holds goes in If-Range.
            const harness::LogEntry& get = requests.back();
            CHECK(get.target == row.get);
            nettest::CheckRangedGet(get, row.kept, row.kept ? nettest::HttpDateText(2021, 4, 13, 0, 0, 0) : "", 206);
            CHECK(get.bodyBytesSent == 70000 - row.kept);
        }
        // Other statuses are the HEAD's answer, as before: no GET.
        for (const wchar_t* status : {L"404", L"400", L"500"}) {
            harness::ServerLog log("scripted");
            EventLog events;
            CHECK(Fetch(nettest::ScriptedUrl(WideString(L"/x/refusehead=") + status + L"/refused.bin"),
                        nettest::FreshFolder(L"refused"), events) == UnexpectedStatus);
            CHECK(nettest::Methods(nettest::RequestsFor(log, "refused.bin")) == "HEAD");
        }
    }

    TEST_CASE("text answers: TextContent with the URL, TextBody with the bytes and a zero")
    {
        const WideString folder = nettest::FreshFolder(L"text");
        const std::string page = "<html><body>" + std::string(15000, 'k') + "</body></html>\n";
        const long long stamp = nettest::PutServerFile(nettest::NginxFile(L"page.html"), page, 2021, 4, 9, 0, 0, 0);
        const WideString url = nettest::NginxUrl(L"page.html");
        const WideString final = folder + L"page.html";
        // How every call begins.
        const std::string begun = "TextContent FileName:page.html TotalSize:" + std::to_string(page.size());

        SUBCASE("answered true throughout")
        {
            EventLog events;
            CHECK(Fetch(url, folder, events) == Ok);
            REQUIRE(events.Summary() == begun + " Progress*2 TextBody Completed");
            CHECK(events.events[0].text == url);
            CHECK(events.events[5].body == page);
            CheckFinal(final, page, stamp);

            // Already present: the body again, from the final file.
            EventLog again;
            CHECK(Fetch(url, folder, again) == Ok);
            CHECK(again.Summary() == begun + " Message:File exists, aborting TextBody");
            REQUIRE(again.LastEvent() == TextBody);
            CHECK(again.events.back().body == page);
            CHECK(nettest::Exists(final));

            // Already present and TextBody answered false: the file goes.
            EventLog refused(TextBody);
            CHECK(Fetch(url, folder, refused) == Ok);
            CHECK_FALSE(nettest::Exists(final));
        }
        SUBCASE("TextContent answered false: nothing more, no GET, no file")
        {
            EventLog events(TextContent);
            harness::ServerLog log("nginx");
            CHECK(Fetch(url, folder, events) == Failed);
            CHECK(events.Summary() == "TextContent");
            CHECK(nettest::Methods(nettest::RequestsFor(log, "/page.html")) == "HEAD");
            CHECK_FALSE(nettest::Exists(final + L".dul!"));
        }
        SUBCASE("TextBody answered false after the transfer: Aborted, nothing kept")
        {
            EventLog events(TextBody);
            CHECK(Fetch(url, folder, events) == Failed);
            CHECK(events.Summary() == begun + " Progress*2 TextBody Aborted");
            CHECK_FALSE(nettest::Exists(final));
            CHECK_FALSE(nettest::Exists(final + L".dul!"));
        }
    }

    TEST_CASE("which content types count as text")
    {
        const WideString folder = nettest::FreshFolder(L"types");
        nettest::PutServerFile(nettest::ScriptedFile(L"t.txt"), "plain words\n", 2021, 4, 10, 0, 0, 0);
        struct Row {
            const wchar_t* options;
            bool text;
        } rows[] = {
            {L"ctype=text%2Fplain", true},
            {L"ctype=text%2Fhtml%3B%20charset%3Dutf-8", true},
            {L"ctype=Text%2FHTML", false},
            {L"ctype=application%2Foctet-stream", false},
        };
        int n = 0;
        for (const Row& row : rows) {
            CAPTURE(Narrow(row.options));
            EventLog events;
            CHECK(Fetch(nettest::ScriptedUrl(WideString(L"/x/") + row.options + L"/t.txt"),
                        folder + std::to_wstring(++n).c_str() + L".out", events) == Ok);
            CHECK(events.Has(TextContent) == row.text);
            CHECK(events.Has(TextBody) == row.text);
            if (row.text)
                CHECK(events.LastEvent() == Completed);
        }
    }

    TEST_CASE("false answers to FileName and TotalSize: Aborted, no GET, no temporary file")
    {
        const WideString folder = nettest::FreshFolder(L"stops");
        nettest::PutServerFile(nettest::NginxFile(L"stops.bin"), nettest::MakeBytes(1000, 22), 2021, 4, 11, 0, 0, 0);
        struct Row {
            int event;
            const char* summary;
        } rows[] = {
            {FileName, "FileName:stops.bin Aborted"},
            {TotalSize, "FileName:stops.bin TotalSize:1000 Aborted"},
        };
        for (const Row& row : rows) {
            EventLog events(row.event);
            harness::ServerLog log("nginx");
            CHECK(Fetch(nettest::NginxUrl(L"stops.bin"), folder, events) == Failed);
            CHECK(events.Summary() == row.summary);
            CHECK(nettest::Methods(nettest::RequestsFor(log, "/stops.bin")) == "HEAD");
            CHECK_FALSE(nettest::Exists(folder + L"stops.bin.dul!"));
        }
    }

    TEST_CASE_FIXTURE(nettest::ScriptsReset, "every result code")
    {
        const WideString folder = nettest::FreshFolder(L"codes");
        nettest::PutServerFile(nettest::ScriptedFile(L"codes.bin"), nettest::MakeBytes(5000, 23), 2021, 4, 12, 0, 0, 0);
        harness::ServerLog log("scripted");

        SUBCASE("1: a scheme other than http and https, ftp included, before any connection")
        {
            for (const WideString& url : {WideString(L"gopher://127.0.0.1/codes.bin"), WideString(L"mailto://x@y/z"),
                                          L"ftp" + harness::ScriptedBase().substr(4) + L"/codes.bin"}) {
                EventLog events;
                CHECK(Fetch(url, folder, events) == UnsupportedScheme);
                CHECK(events.Summary() == "Message:Protocol not supported");
            }
            CHECK(nettest::RequestsFor(log, "codes.bin").empty()); // no request reached the server
        }
        SUBCASE("17: nothing listening")
        {
            EventLog events;
            CHECK(Fetch(L"http://127.0.0.1:9/codes.bin", folder, events) == HeadNotSent);
            CHECK(events.events.empty());
        }
        SUBCASE("-1: no connection handle for an empty host")
        {
            EventLog events;
            CHECK(Fetch(L"http:///codes.bin", folder, events) == Failed);
            CHECK(events.Summary() == "Message:InternetConnect() failed");
        }
        SUBCASE("-2: a HEAD status other than 200 and the redirects")
        {
            for (const wchar_t* status : {L"404", L"500", L"206", L"204", L"304"}) {
                EventLog events;
                CHECK(Fetch(nettest::ScriptedUrl(WideString(L"/x/status=") + status + L"/codes.bin"), folder,
                            events) == UnexpectedStatus);
                CHECK(events.events.empty());
            }
        }
        SUBCASE("-1: a redirect without Location")
        {
            EventLog events;
            CHECK(Fetch(nettest::ScriptedUrl(L"/x/status=302/codes.bin"), folder, events) == Failed);
            CHECK(events.Summary() == "Message:Redirected to unknown location");
        }
        SUBCASE("-1: a GET answered outside 2xx")
        {
            for (int status : {404, 416, 503, 302}) {
                CAPTURE(status);
                REQUIRE(harness::ScriptPath(R"({"path": "/codes.bin", "steps": [{"method": "GET", "status": )" +
                                            std::to_string(status) + "}]}"));
                EventLog events;
                CHECK(Fetch(nettest::ScriptedUrl(L"/codes.bin"), folder, events) == Failed);
                // A redirect is followed, if it says where to.
                CHECK(events.Summary() == std::string("FileName:codes.bin TotalSize:5000 Message:") +
                                              (status == 302 ? "Redirected to unknown location" : "Sould be <2xx>"));
                CHECK(nettest::IsHidden(folder + L"codes.bin.dul!"));
                CHECK_FALSE(nettest::Exists(folder + L"codes.bin"));
            }
        }
    }
}

// A temporary file that cannot take the final name: the message, the
// statistics event the loader reports it with (once per process, counted in
// nginx's log) and the temporary file kept for the next call. Runs in a
// process of its own, since the event is sent once per process.

#include <doctest.h>

#include "net/DownloadEvents.h"
#include "net/FileTimes.h"
#include "net/HttpDownloader.h"
#include "stats/StatsReporter.h"
#include "stats/StatsSender.h"
#include "tests/net/NetTestSupport.h"
#include "tests/support/Process.h"
#include "tests/support/ServerLog.h"

#include <windows.h>

#include <string>

using nettest::EventLog;

namespace {

// The events queued so far, once the sender has delivered them.
size_t RenameEvents(const harness::ServerLog& log)
{
    FinishStatsEvents();
    return nettest::RequestsFor(log, "type=qloader_err_dultoexe").size();
}

} // namespace

TEST_SUITE("rename")
{
    TEST_CASE("rename failures: message, one statistics event per process, the temporary file kept")
    {
        const auto [folder, bytes, stamp] =
            nettest::Serve(nettest::NginxFile(L"ren.bin"), L"rename", 30000, 91, 2021, 7, 1);
        const WideString url = nettest::NginxUrl(L"ren.bin");
        const WideString final = folder + L"ren.bin";
        const WideString temp = final + L".dul!";
        harness::ServerLog stats("nginx");
        // Wired as the loader wires it.
        HttpDownloader downloader(ReportRenameFailed);

        // The final path is a folder.
        REQUIRE(::CreateDirectoryW(final.c_str(), nullptr));
        EventLog first;
        CHECK(downloader.Download(url.c_str(), folder.c_str(), EventLog::Callback, &first) == Failed);
        CHECK(first.Summary() == "FileName:ren.bin TotalSize:30000 Progress*3 Message:Error during renaming tmp file");
        CHECK(harness::ReadWholeFile(temp) == bytes);
        CHECK(nettest::IsHiddenAfterStamp(temp));
        CHECK(GetFileModificationTime(temp.c_str()) == stamp);
        CHECK((nettest::Attributes(final) & FILE_ATTRIBUTE_DIRECTORY) != 0);
        CHECK(RenameEvents(stats) == 1);

        // Again, now from the complete temporary file: no GET, no second event.
        EventLog second;
        harness::ServerLog log("nginx");
        CHECK(downloader.Download(url.c_str(), folder.c_str(), EventLog::Callback, &second) == Failed);
        CHECK(second.Summary() == "FileName:ren.bin TotalSize:30000 Message:Error during renaming tmp file");
        CHECK(nettest::Methods(nettest::RequestsFor(log, "/ren.bin")) == "HEAD");
        CHECK(harness::ReadWholeFile(temp) == bytes);

        // The final file held open by another program.
        REQUIRE(::RemoveDirectoryW(final.c_str()));
        REQUIRE(harness::WriteWholeFile(final, "old installer"));
        {
            UniqueFileHandle held(::CreateFileW(final.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                0, nullptr));
            REQUIRE(held);
            EventLog third;
            CHECK(downloader.Download(url.c_str(), folder.c_str(), EventLog::Callback, &third) == Failed);
            CHECK(third.LastMessage() == L"Error during renaming tmp file");
            CHECK(harness::ReadWholeFile(final) == "old installer");
            CHECK(harness::ReadWholeFile(temp) == bytes);
        }
        CHECK(RenameEvents(stats) == 1);

        // Released: the next call finishes the job without fetching again.
        EventLog fourth;
        log.Mark();
        CHECK(downloader.Download(url.c_str(), folder.c_str(), EventLog::Callback, &fourth) == Ok);
        CHECK(fourth.Summary() == "FileName:ren.bin TotalSize:30000 Completed");
        nettest::CheckFinal(final, bytes, stamp);
        CHECK(nettest::Methods(nettest::RequestsFor(log, "/ren.bin")) == "HEAD");
        CHECK(RenameEvents(stats) == 1);
    }
}

// The loader's pure pieces: working paths, the percentage and window text,
// the retry schedule and the worker's loop of attempts (also with real
// downloads against the scripted server).

#define DOCTEST_CONFIG_IMPLEMENT_WITH_MAIN
#include <doctest.h>

#include "app/ProgressText.h"
#include "app/RetrySchedule.h"
#include "app/TextPageUrl.h"
#include "app/WorkingPaths.h"
#include "net/DownloadEvents.h"
#include "net/HttpDownloader.h"
#include "tests/support/HarnessEnv.h"
#include "tests/support/Process.h"
#include "tests/support/ScriptedServer.h"

#include <windows.h>

#include <string>
#include <vector>

namespace {

// The worker's own loop, its pauses taking no time.
struct AttemptRun {
    int result = 0;
    uint32_t attempts = 0;
    uint32_t pauses = 0;
    uint64_t pausedMs = 0;
};

template <typename Attempt>
AttemptRun RunAttempts(Attempt attempt)
{
    AttemptRun run;
    run.result = RetryAttempts([&] { return attempt(++run.attempts); }, [&](uint32_t ms) {
        ++run.pauses;
        run.pausedMs += ms;
    });
    return run;
}

AttemptRun PlanAllFailing(int downloadResult)
{
    return RunAttempts([=](uint32_t) { return downloadResult; });
}

// A run's result, its attempts and the pauses between them; what names the run.
void CheckRun(const char* what, const AttemptRun& run, int result, uint32_t attempts, uint32_t pauses,
              uint64_t pausedMs)
{
    INFO(what);
    CHECK(run.result == result);
    CHECK(run.attempts == attempts);
    CHECK(run.pauses == pauses);
    CHECK(run.pausedMs == pausedMs);
}

} // namespace

TEST_SUITE("paths")
{
    TEST_CASE("the folder part of a path keeps its separator")
    {
        CHECK(GetDirectoryPart(L"C:\\Temp\\a.exe") == L"C:\\Temp\\");
        CHECK(GetDirectoryPart(L"C:\\Users\\u\\AppData\\Local\\Temp\\setup (1).exe") == L"C:\\Users\\u\\AppData\\Local\\Temp\\");
        CHECK(GetDirectoryPart(L"a.exe") == L"");
        CHECK(GetDirectoryPart(L"") == L"");
        CHECK(GetDirectoryPart(L"C:\\a.exe") == L"C:\\");
        // The same name earlier in the path does not cut the folder short.
        CHECK(GetDirectoryPart(L"C:\\x\\a.exe\\a.exe") == L"C:\\x\\a.exe\\");
        CHECK(GetDirectoryPart(L"C:\\setup\\setup") == L"C:\\setup\\");
    }

    TEST_CASE("the target is the temporary folder and the own file name, or nothing")
    {
        CHECK(MakeTargetPath(L"C:\\Temp\\", L"KovraLoader.exe") == L"C:\\Temp\\KovraLoader.exe");
        CHECK(MakeTargetPath(L"", L"KovraLoader.exe") == L"");
        CHECK(MakeTargetPath(L"C:\\Temp\\", L"") == L"");
    }

    TEST_CASE("a loader in the temporary folder does not download over itself")
    {
        CHECK(ChooseTargetPath(L"C:\\Temp\\", L"D:\\Downloads\\setup (1).exe") == L"C:\\Temp\\setup (1).exe");
        CHECK(ChooseTargetPath(L"C:\\Temp\\", L"C:\\Temp\\setup.exe") == L"C:\\Temp\\KovraInstallerD1.exe");
        CHECK(ChooseTargetPath(L"C:\\Temp\\", L"c:\\temp\\SETUP.exe") == L"C:\\Temp\\KovraInstallerD1.exe");
        CHECK(ChooseTargetPath(L"", L"C:\\Temp\\setup.exe") == L"");
        CHECK(ChooseTargetPath(L"C:\\Temp\\", L"") == L"");
        CHECK(GetDirectoryPart(GetOwnPath()) + L"app_unit_tests.exe" == GetOwnPath());
        CHECK(GetOwnPath(3) == GetOwnPath());
    }

    TEST_CASE("the loader itself is found under any spelling of its folder, also under the fallback name")
    {
        const WideString folder = harness::Dir() + L"\\Kovra Long Folder Name\\";
        ::CreateDirectoryW(folder.c_str(), nullptr);
        wchar_t shortForm[MAX_PATH + 1];
        REQUIRE(::GetShortPathNameW(folder.c_str(), shortForm, MAX_PATH + 1) > 0);
        const WideString shortFolder = shortForm;
        REQUIRE(shortFolder != folder);
        struct Row {
            const wchar_t* ownName;
            WideString target; // in the short spelling
        } rows[] = {
            {L"setup.exe", shortFolder + L"KovraInstallerD1.exe"},
            {L"KovraInstallerD1.exe", shortFolder + L"KovraInstallerD1 (1).exe"},
        };
        for (const Row& row : rows) {
            const WideString own = folder + row.ownName;
            REQUIRE(harness::WriteWholeFile(own, "loader"));
            CHECK(IsSameFile(shortFolder + row.ownName, own));
            CHECK_FALSE(IsSameFile(folder + L"other.exe", own));
            CHECK(ChooseTargetPath(shortFolder, own) == row.target);
            ::DeleteFileW(own.c_str());
        }
        ::RemoveDirectoryW(folder.c_str());
    }

    TEST_CASE("the temporary folder as the platform gives it")
    {
        wchar_t expected[MAX_PATH + 1];
        const DWORD length = ::GetTempPathW(MAX_PATH + 1, expected);
        REQUIRE(length > 0);
        CHECK(GetTempDirectory() == WideString(expected, length));
        CHECK(GetTempDirectory().back() == L'\\');
    }

    TEST_CASE("a temporary folder longer than the first buffer is whole or nothing")
    {
        WideString longFolder = L"C:\\";
        while (longFolder.size() < 300)
            longFolder += L"folder\\";
        wchar_t saved[4096];
        const DWORD savedLength = ::GetEnvironmentVariableW(L"TMP", saved, 4096);
        ::SetEnvironmentVariableW(L"TMP", longFolder.c_str());
        const WideString got = GetTempDirectory();
        ::SetEnvironmentVariableW(L"TMP", savedLength ? saved : nullptr);
        // Windows gives the long folder; Wine refuses it. Never a cut path.
        CHECK((got == longFolder || got.empty()));
        CHECK(MakeTargetPath(got, L"KovraLoader.exe") == (got.empty() ? L"" : longFolder + L"KovraLoader.exe"));
    }

    TEST_CASE("the own path is read whole, however small the first buffer")
    {
        const WideString own = GetOwnPath();
        CHECK(own.substr(GetDirectoryPart(own).size()) == L"app_unit_tests.exe");
        for (size_t first : {1u, 2u, 4u, 17u, 64u})
            CHECK(GetOwnPath(first) == own);
    }
}

TEST_SUITE("progress")
{
    TEST_CASE("the percentage of a known total")
    {
        CHECK(ProgressPercent(29999, 1000000, 0) == 2);
        CHECK_FALSE(IsShownPercent(2));
        CHECK(ProgressPercent(30000, 1000000, 0) == 3);
        CHECK(IsShownPercent(3));
        CHECK(ProgressPercent(29, 100, 0) == 28);
        CHECK(ProgressPercent(1000000, 1000000, 0) == 100);
        // More than announced shows a whole file, never more.
        CHECK(ProgressPercent(150, 100, 0) == 100);
        CHECK(ProgressPercent(1000001, 1000000, 0) == 100);
        CHECK(ProgressPercent(0xFFFFFFFEu, 0xFFFFFFFEu, 0) == 100);
        CHECK(ProgressPercent(1, 3, 0) == 33);
        CHECK(ProgressPercent(2147483647u, 4294967294u, 0) == 50);
        // Far more than announced (a HEAD of 1 byte, a GET of 22 MB) stays
        // 100 instead of wrapping to a negative percentage.
        CHECK(ProgressPercent(22000000u, 1u, 0) == 100);
        CHECK(ProgressPercent(0xFFFFFFFEu, 1u, 0) == 100);
        CHECK(ProgressPercent(21474836u, 1u, 0) == 100);
    }

    TEST_CASE("a total of 0 shows nothing")
    {
        CHECK(ProgressPercent(0, 0, 40) == 0);
        CHECK(ProgressPercent(5000, 0, 40) == 0);
    }

    TEST_CASE("an unknown total steps the bar by 5 and wraps")
    {
        std::vector<int> steps;
        int position = 0;
        for (int i = 0; i < 22; ++i) {
            position = ProgressPercent(12345, kUnknownTotal, position);
            steps.push_back(position);
        }
        CHECK(steps[0] == 5);
        CHECK(steps[1] == 10);
        CHECK(steps[18] == 95);
        CHECK(steps[19] == 100);
        CHECK(steps[20] == 5);
    }

    TEST_CASE("the window text")
    {
        CHECK(ProgressWindowText(3) == L"\x0417\x0430\x0433\x0440\x0443\x0437\x043A\x0430 \x0431\x0440\x0430\x0443\x0437\x0435\x0440\x0430 \x041A\x043E\x0432\x0440\x0430 - 3%");
        CHECK(ProgressWindowText(100).substr(23) == L" - 100%");
        CHECK(ProgressWindowText(150).substr(23) == L" - 150%");
    }

    TEST_CASE("only web pages named by the server are handed to the shell")
    {
        CHECK(IsWebPageUrl(L"http://download.kovra.example/KovraInstallerD1.exe"));
        CHECK(IsWebPageUrl(L"HTTPS://kovra.example/maintenance?x=1"));
        CHECK_FALSE(IsWebPageUrl(nullptr));
        CHECK_FALSE(IsWebPageUrl(L""));
        CHECK_FALSE(IsWebPageUrl(L"C:\\Windows\\notepad.exe"));
        CHECK_FALSE(IsWebPageUrl(L"\\\\server\\share\\setup.exe"));
        CHECK_FALSE(IsWebPageUrl(L"file:///C:/Windows/notepad.exe"));
        CHECK_FALSE(IsWebPageUrl(L"ftp://kovra.example/x"));
        CHECK_FALSE(IsWebPageUrl(L"ms-settings:"));
        CHECK_FALSE(IsWebPageUrl(L"http://"));
        CHECK_FALSE(IsWebPageUrl(L"http:///C:/x"));
        CHECK_FALSE(IsWebPageUrl(L" http://kovra.example/"));
        CHECK_FALSE(IsWebPageUrl(L"http://kovra.example/\" a\" --flag"));
        CHECK_FALSE(IsWebPageUrl(L"http://kovra.example/a\r\nb"));
    }
}

TEST_SUITE("retry")
{
    TEST_CASE("pauses double up to 64 seconds")
    {
        RetrySchedule schedule;
        std::vector<uint32_t> pauses;
        for (int i = 0; i < 9; ++i) {
            pauses.push_back(schedule.pauseMs);
            schedule.AfterPause(UnexpectedStatus);
        }
        CHECK(pauses == std::vector<uint32_t>{1000, 2000, 4000, 8000, 16000, 32000, 64000, 64000, 64000});
        CHECK(schedule.pausedMs == 255000);
    }

    TEST_CASE("a request that could not be sent starts the pauses again after the grown one")
    {
        RetrySchedule schedule;
        schedule.AfterPause(Failed);          // 1 s taken
        schedule.AfterPause(UnexpectedStatus); // 2 s taken
        CHECK(schedule.pauseMs == 4000);
        schedule.AfterPause(HeadNotSent);     // the grown 4 s is still taken
        CHECK(schedule.pausedMs == 7000);
        CHECK(schedule.pauseMs == 1000);
        schedule.AfterPause(Failed);
        CHECK(schedule.pauseMs == 2000);
    }

    TEST_CASE("the budget: the last attempt of a run that always fails")
    {
        CheckRun("no network", PlanAllFailing(HeadNotSent), HeadNotSent, 7202, 7201, 7201000);
        CheckRun("a bad status", PlanAllFailing(UnexpectedStatus), UnexpectedStatus, 119, 118, 7231000);
    }

    TEST_CASE("the loop ends at the first success, or at once when asked to stop")
    {
        CheckRun("the third succeeds", RunAttempts([](uint32_t n) { return n < 3 ? Failed : Ok; }), Ok, 3, 2, 3000);
        const AttemptRun page = RunAttempts([](uint32_t n) { return n < 2 ? HeadNotSent : kAttemptsStopped; });
        CheckRun("stopped after the first", page, kAttemptsStopped, 2, 1, 1000);
    }

    TEST_CASE("the budget is exceeded only past two hours")
    {
        RetrySchedule schedule;
        schedule.pausedMs = 7200000;
        CHECK_FALSE(schedule.BudgetExceeded());
        schedule.pausedMs = 7200001;
        CHECK(schedule.BudgetExceeded());
    }
}

TEST_SUITE("budget")
{
    TEST_CASE("two hours of failed downloads: the loop gives up, the partial file is kept")
    {
        std::string bytes(200000, '\0');
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(i * 131 % 251);
        REQUIRE(harness::WriteWholeFile(harness::ScriptedRoot() + L"budget.bin", bytes));
        // The first GET is cut after 30,000 bytes; every later one is refused.
        std::string steps = R"([{"method": "GET", "cut": 30000})";
        for (int i = 0; i < 118; ++i)
            steps += R"(, {"method": "GET", "status": 503})";
        REQUIRE(harness::ScriptPath(R"({"path": "/budget.bin", "steps": )" + steps + "]}"));
        const WideString target = harness::Dir() + L"\\budget.bin";
        ::SetFileAttributesW((target + L".dul!").c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW((target + L".dul!").c_str());

        HttpDownloader downloader;
        const WideString url = harness::ScriptedUrl(L"/budget.bin");
        const AttemptRun run = RunAttempts([&](uint32_t) {
            return downloader.Download(url.c_str(), target.c_str(), nullptr, nullptr);
        });
        harness::ResetScripts();
        CheckRun("cut, then refused", run, Failed, 119, 118, 7231000);
        CHECK(harness::ReadWholeFile(target + L".dul!") == bytes.substr(0, 30000));
        CHECK(::GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES);
        ::SetFileAttributesW((target + L".dul!").c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW((target + L".dul!").c_str());
    }
}

#include "stats/StatsReporter.h"

#include "stats/StatsRequest.h"
#include "stats/StatsUrl.h"

#include <atomic>

void ReportRun()
{
    StatsRequest request;
    request.AddParam(L"type", L"qloader_run");
}

void ReportDownloaded()
{
    StatsRequest request;
    request.AddParam(L"type", L"qloader_downloaded");
}

void ReportFinished(int exitCode)
{
    StatsRequest request;
    request.AddParam(L"type", L"qloader_finished");
    request.AddParam(L"exit_code", ExitCodeText(exitCode));
}

void ReportRenameFailed()
{
    static std::atomic<bool> reported{false};
    if (reported.exchange(true))
        return;
    StatsRequest request;
    request.AddParam(L"type", L"qloader_err_dultoexe");
}

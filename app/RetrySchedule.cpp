#include "app/RetrySchedule.h"

#include "net/DownloadEvents.h"

void RetrySchedule::AfterPause(int downloadResult)
{
    pausedMs += pauseMs;
    if (downloadResult == HeadNotSent)
        pauseMs = kFirstPauseMs;
    else if (pauseMs < kLongestPauseMs)
        pauseMs *= 2;
}

RetryOutcome PlanAllFailing(int downloadResult)
{
    RetryOutcome outcome;
    RetrySchedule schedule;
    for (;;) {
        ++outcome.attempts;
        if (schedule.BudgetExceeded())
            return outcome;
        ++outcome.pauses;
        outcome.pausedMs += schedule.pauseMs;
        schedule.AfterPause(downloadResult);
    }
}

#include "app/RetrySchedule.h"

void RetrySchedule::AfterPause(int downloadResult)
{
    pausedMs += pauseMs;
    if (downloadResult == HeadNotSent)
        pauseMs = kFirstPauseMs;
    else if (pauseMs < kLongestPauseMs)
        pauseMs *= 2;
}

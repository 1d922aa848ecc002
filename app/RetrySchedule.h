#pragma once
// The pauses between download attempts: 1 s, doubled up to 64 s, back to 1 s
// after an attempt whose request could not even be sent, and a budget of two
// hours of pauses in all; and the worker's loop of attempts built on them.

#include "net/DownloadEvents.h"

#include <climits>
#include <cstdint>

inline constexpr uint32_t kFirstPauseMs = 1000;
inline constexpr uint32_t kLongestPauseMs = 64000;
inline constexpr uint32_t kPauseBudgetMs = 7200000;

struct RetrySchedule {
    uint32_t pausedMs = 0;
    uint32_t pauseMs = kFirstPauseMs;

    // An attempt that fails now is the last: the pauses taken exceed the budget.
    bool BudgetExceeded() const { return pausedMs > kPauseBudgetMs; }

    // Books the pause just taken after an attempt with this result and sets
    // the next one.
    void AfterPause(int downloadResult);
};

// What an attempt answers when the job must end at once, without a pause or
// another attempt (the server showed a page instead of the installer).
inline constexpr int kAttemptsStopped = INT_MIN;

// The worker's attempts: attempt() (a DownloadResult, or kAttemptsStopped)
// until it gives Ok, asks to stop, or fails once the pauses taken exceed the
// budget; pause(ms) follows every other failure. Returns the last answer:
// anything but Ok means the job ends without an installer.
template <typename Attempt, typename Pause>
int RetryAttempts(Attempt&& attempt, Pause&& pause)
{
    RetrySchedule schedule;
    for (;;) {
        const int result = attempt();
        if (result == Ok || result == kAttemptsStopped || schedule.BudgetExceeded())
            return result;
        pause(schedule.pauseMs);
        schedule.AfterPause(result);
    }
}

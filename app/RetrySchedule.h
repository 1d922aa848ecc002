#pragma once
// The pauses between download attempts: 1 s, doubled up to 64 s, back to 1 s
// after an attempt whose request could not even be sent, and a budget of two
// hours of pauses in all.

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

// How a run of failed attempts ends: how many attempts are made until the
// budget stops them, and how long the pauses between them are in all, when
// every attempt fails with the same result.
struct RetryOutcome {
    uint32_t attempts = 0;
    uint32_t pauses = 0;
    uint64_t pausedMs = 0;
};
RetryOutcome PlanAllFailing(int downloadResult);

#include "ui/WindowTasks.h"

#include "common/SrwLock.h"
#include "ui/RegisteredMessage.h"

UINT WindowTasks::RingMessage()
{
    static std::atomic<UINT> cache{0};
    return RegisteredMessage(cache, L"Kovra.LayeredSkinWindow.RunTask");
}

void WindowTasks::Queue(Task& task)
{
    if (task.queued)
        return;
    Task** end = &waiting;
    while (*end)
        end = &(*end)->next;
    task.next = nullptr;
    task.queued = true;
    task.done = false;
    *end = &task;
}

bool WindowTasks::Run(HWND window, Task& task)
{
    if (!window)
        return false;
    {
        const SrwExclusive hold(lock);
        Queue(task);
    }
    ::SendMessageW(window, RingMessage(), 0, 0);
    const SrwExclusive hold(lock);
    if (task.queued) {
        // Still waiting: the window is gone without having run it.
        Task** at = &waiting;
        while (*at != &task)
            at = &(*at)->next;
        *at = task.next;
        return false;
    }
    // Taken by an earlier ring, and running on the window's thread now.
    while (!task.done)
        ::SleepConditionVariableSRW(&ran, &lock, INFINITE, 0);
    return true;
}

void WindowTasks::Post(HWND window, Task& task)
{
    {
        const SrwExclusive hold(lock);
        Queue(task);
    }
    // Every post rings: a ring the window's queue refused is made good by
    // the next.
    if (window)
        ::PostMessageW(window, RingMessage(), 0, 0);
}

void WindowTasks::RunWaiting()
{
    for (;;) {
        Task* task = nullptr;
        {
            const SrwExclusive hold(lock);
            task = waiting;
            if (!task)
                return;
            waiting = task->next;
            task->queued = false;
        }
        task->run(task->context);
        const SrwExclusive hold(lock);
        task->done = true;
        ::WakeAllConditionVariable(&ran);
    }
}

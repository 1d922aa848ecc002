#pragma once
// Work that other threads hand to a window's thread, the one way they reach
// it: a window, and whatever its composition reads, may only be touched by
// the thread that made it. A task waits here and a registered message rings
// the window, whose thread runs every waiting task. The ring carries nothing
// (any program can send it), so a forged one only runs what waits.

#include <windows.h>

class WindowTasks {
public:
    struct Task {
        void (*run)(void* context);
        void* context;
        Task* next;
        bool queued;
        bool done;
    };

    // Runs task() on window's thread and waits until it has run; false when
    // the window was gone before it could. On the window's own thread it
    // runs at once.
    template <typename Callable>
    bool Run(HWND window, Callable& task)
    {
        Task entry = {&Call<Callable>, &task, nullptr, false, false};
        return Run(window, entry);
    }
    bool Run(HWND window, Task& task);
    // Queues task for window's thread, unless it waits already, and returns
    // at once: posted any number of times before it runs, it runs once.
    void Post(HWND window, Task& task);
    // Window's thread, at the ring: runs every task that waits, oldest first.
    void RunWaiting();
    static UINT RingMessage();

private:
    template <typename Callable>
    static void Call(void* task)
    {
        (*static_cast<Callable*>(task))();
    }
    // Under the lock: appends task unless it waits already.
    void Queue(Task& task);

    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE ran = CONDITION_VARIABLE_INIT;
    Task* waiting = nullptr;
};

#pragma once
// A private window message by name, cached by the caller. Registering the
// same name gives the same number, so threads racing here agree; a
// constant-initialised atomic cache needs no guarded static.

#include <windows.h>

#include <atomic>

inline UINT RegisteredMessage(std::atomic<UINT>& cache, const wchar_t* name)
{
    UINT message = cache.load(std::memory_order_relaxed);
    if (message == 0) {
        message = ::RegisterWindowMessageW(name);
        cache.store(message, std::memory_order_relaxed);
    }
    return message;
}

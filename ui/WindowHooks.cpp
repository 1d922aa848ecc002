#include "ui/WindowHooks.h"

#include "common/SrwLock.h"

namespace window_hooks {
namespace {

struct Entry {
    HWND window;
    WNDPROC hook;
    Hook value;
};

// Process-wide and never torn down (a window may outlive every object). A
// handful of entries per window, so a plain array will do; a slim lock,
// as the test dialogs run on several threads.
SRWLOCK lock = SRWLOCK_INIT;
Entry* entries = nullptr;
size_t count = 0;
size_t capacity = 0;

// Under the lock.
Entry* Lookup(HWND window, WNDPROC hook)
{
    for (size_t i = 0; i < count; ++i)
        if (entries[i].window == window && entries[i].hook == hook)
            return &entries[i];
    return nullptr;
}

void Remove(Entry* entry)
{
    *entry = entries[count - 1];
    --count;
}

bool Reserve()
{
    if (count < capacity)
        return true;
    const size_t grown = capacity ? capacity * 2 : 16;
    void* memory = entries ? ::HeapReAlloc(::GetProcessHeap(), 0, entries, grown * sizeof(Entry))
                           : ::HeapAlloc(::GetProcessHeap(), 0, grown * sizeof(Entry));
    if (!memory)
        return false;
    entries = static_cast<Entry*>(memory);
    capacity = grown;
    return true;
}

} // namespace

bool Install(HWND window, WNDPROC hook, void* data)
{
    if (!window || !hook)
        return false;
    const SrwExclusive guard(lock);
    if (Entry* existing = Lookup(window, hook)) {
        existing->value.data = data;
        return true;
    }
    if (!Reserve())
        return false;
    // Messages for window come on its own thread, which is this one or waits
    // for it: none can look for the entry before it is complete.
    ::SetLastError(0);
    const LONG_PTR replaced = ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(hook));
    if (!replaced && ::GetLastError() != 0)
        return false;
    entries[count++] = Entry{window, hook, Hook{reinterpret_cast<WNDPROC>(replaced), data}};
    return true;
}

bool Find(HWND window, WNDPROC hook, Hook& found)
{
    const SrwShared guard(lock);
    const Entry* entry = Lookup(window, hook);
    if (!entry)
        return false;
    found = entry->value;
    return true;
}

void Release(HWND window, WNDPROC hook)
{
    const SrwExclusive guard(lock);
    Entry* entry = Lookup(window, hook);
    if (!entry)
        return;
    // Only the procedure on top can be taken out without cutting the chain
    // of whatever came after it.
    if (reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(window, GWLP_WNDPROC)) == hook &&
        ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(entry->value.previous))) {
        Remove(entry);
        return;
    }
    entry->value.data = nullptr;
}

void Forget(HWND window, WNDPROC hook)
{
    const SrwExclusive guard(lock);
    if (Entry* entry = Lookup(window, hook))
        Remove(entry);
}

} // namespace window_hooks

#include "ui/DialogBinding.h"

#include <windows.h>


namespace dialog_binding {
namespace {

struct Pending {
    DWORD thread;
    LayeredSkinWindow* object;
    Pending* next;
};

// Process-wide and never torn down: no destructor has to run while other
// threads may still be about. The lock is made once, on first use.
INIT_ONCE lockMade = INIT_ONCE_STATIC_INIT;
CRITICAL_SECTION lock;
Pending* head = nullptr;

BOOL CALLBACK MakeLock(PINIT_ONCE, PVOID, PVOID*)
{
    ::InitializeCriticalSection(&lock);
    return TRUE;
}

class Guard {
public:
    Guard()
    {
        ::InitOnceExecuteOnce(&lockMade, &MakeLock, nullptr, nullptr);
        ::EnterCriticalSection(&lock);
    }
    ~Guard() { ::LeaveCriticalSection(&lock); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
};

void Free(Pending* entry)
{
    ::HeapFree(::GetProcessHeap(), 0, entry);
}

} // namespace

bool Register(LayeredSkinWindow* object)
{
    auto* entry = static_cast<Pending*>(::HeapAlloc(::GetProcessHeap(), 0, sizeof(Pending)));
    if (!entry)
        return false;
    entry->thread = ::GetCurrentThreadId();
    entry->object = object;
    Guard guard;
    entry->next = head;
    head = entry;
    return true;
}

LayeredSkinWindow* TakeForThisThread()
{
    const DWORD thread = ::GetCurrentThreadId();
    Pending* taken = nullptr;
    {
        Guard guard;
        for (Pending** link = &head; *link; link = &(*link)->next) {
            if ((*link)->thread == thread) {
                taken = *link;
                *link = taken->next;
                break;
            }
        }
    }
    if (!taken)
        return nullptr;
    LayeredSkinWindow* object = taken->object;
    Free(taken);
    return object;
}

void Cancel(LayeredSkinWindow* object)
{
    Pending* dropped = nullptr;
    {
        Guard guard;
        Pending** link = &head;
        while (*link) {
            if ((*link)->object == object) {
                Pending* entry = *link;
                *link = entry->next;
                entry->next = dropped;
                dropped = entry;
            } else {
                link = &(*link)->next;
            }
        }
    }
    while (dropped) {
        Pending* next = dropped->next;
        Free(dropped);
        dropped = next;
    }
}

} // namespace dialog_binding

#include "ui/DialogBinding.h"

#include "common/SrwLock.h"


namespace dialog_binding {
namespace {

struct Pending {
    DWORD thread;
    LayeredSkinWindow* object;
    Pending* next;
};

// Process-wide and never torn down: no destructor has to run while other
// threads may still be about. A slim lock is ready before any code runs.
SRWLOCK lock = SRWLOCK_INIT;
Pending* head = nullptr;

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
    const SrwExclusive guard(lock);
    entry->next = head;
    head = entry;
    return true;
}

LayeredSkinWindow* TakeForThisThread()
{
    const DWORD thread = ::GetCurrentThreadId();
    const SrwExclusive guard(lock);
    for (Pending** link = &head; *link; link = &(*link)->next) {
        Pending* taken = *link;
        if (taken->thread == thread) {
            *link = taken->next;
            LayeredSkinWindow* object = taken->object;
            Free(taken);
            return object;
        }
    }
    return nullptr;
}

void Cancel(LayeredSkinWindow* object)
{
    const SrwExclusive guard(lock);
    for (Pending** link = &head; *link;) {
        Pending* entry = *link;
        if (entry->object == object) {
            *link = entry->next;
            Free(entry);
        } else {
            link = &entry->next;
        }
    }
}

} // namespace dialog_binding

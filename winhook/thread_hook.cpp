#include "winhook/thread_hook.h"

#include <algorithm>

std::vector<ThreadHookEntry*>& g_threadHookRegistry = *new std::vector<ThreadHookEntry*>;

namespace {

bool KeyLess(const ThreadHookEntry* entry, DWORD key)
{
    return entry->threadId < key;
}

bool EntryLess(const ThreadHookEntry* a, const ThreadHookEntry* b)
{
    return a->threadId < b->threadId;
}

}  // namespace

int ThreadHookEntry::Install(HOOKPROC procedure)
{
    if (hook || FindThreadHookEntry(threadId))
        return 0;
    try {
        // Room first, so that a registered hook can always be recorded.
        g_threadHookRegistry.reserve(g_threadHookRegistry.size() + 1);
    } catch (...) {
        return 0;
    }
    hook = SetWindowsHookExA(WH_CALLWNDPROC, procedure, NULL, threadId);
    if (!hook)
        return 0;
    g_threadHookRegistry.insert(
        std::upper_bound(g_threadHookRegistry.begin(), g_threadHookRegistry.end(), this, EntryLess),
        this);
    return 1;
}

void ThreadHookEntry::Remove()
{
    if (!hook)
        return;
    UnhookWindowsHookEx(hook);
    DWORD thread = threadId;
    g_threadHookRegistry.erase(
        std::remove_if(g_threadHookRegistry.begin(), g_threadHookRegistry.end(),
                       [thread](const ThreadHookEntry* entry) { return entry->threadId == thread; }),
        g_threadHookRegistry.end());
    hook = 0;
    threadId = 0;
}

ThreadHookEntry* FindThreadHookEntry(DWORD threadId)
{
    std::vector<ThreadHookEntry*>::const_iterator found = std::lower_bound(
        g_threadHookRegistry.begin(), g_threadHookRegistry.end(), threadId, KeyLess);
    if (found == g_threadHookRegistry.end() || (*found)->threadId != threadId)
        return NULL;
    return *found;
}

HHOOK FindThreadHook(DWORD threadId)
{
    ThreadHookEntry* entry = FindThreadHookEntry(threadId);
    return entry ? entry->hook : 0;
}

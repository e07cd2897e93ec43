// Per-thread WH_CALLWNDPROC hooks, kept in a registry keyed by thread identifier, so that
// the one hook procedure finds its own hook handle on whichever thread it runs.
#pragma once
#include <windows.h>
#include <vector>

struct ThreadHookEntry {
    HHOOK hook;       // 0 before installation, after a failed one and after removal
    DWORD threadId;   // the thread whose sent messages the hook sees; 0 after removal

    // 1 when the hook, with the given procedure, is installed and the entry registered.
    // A thread carries one hook: an entry for a thread that has one already is not
    // installed, so that no hook is left behind when the thread's entry is removed.
    int Install(HOOKPROC procedure);
    // Takes the hook down and erases the thread's entries from the registry.
    void Remove();
};

// Ascending by threadId as an unsigned number; non-owning.
// Never destroyed: a host that exits with windows still open sends them their last
// messages after the library's static objects are gone.
extern std::vector<ThreadHookEntry*>& g_threadHookRegistry;

HHOOK FindThreadHook(DWORD threadId);
ThreadHookEntry* FindThreadHookEntry(DWORD threadId);

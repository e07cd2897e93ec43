// What the plug-in adds to every message of the host's user-interface thread: the shared
// subclass procedure of announced windows, and the WH_CALLWNDPROC hook of hooked threads;
// then the two registry lookups that they make, at growing registry sizes.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "bench/bench_support.h"
#include "dialogfix/open_file_dialog.h"
#include "mailview/mail_view_win_hook.h"
#include "tests/support/test_support.h"
#include "winhook/thread_hook.h"
#include "winhook/win_hook.h"

namespace {

const UINT kProbe = WM_USER + 1;   // nothing in the plug-in acts on it
const char kTargetClass[] = "VelmoraBenchTarget";

// The window's own procedure: as cheap as a procedure can be, so that only the path to it
// is measured. The answer shows that each message reached it.
LRESULT CALLBACK TargetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kProbe)
        return static_cast<LRESULT>(wParam + 1);
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateTarget()
{
    static bool registered = false;
    if (!registered) {
        testsupport::RegisterWindowClass(kTargetClass, TargetProc);
        registered = true;
    }
    return CreateWindowExA(0, kTargetClass, "", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, NULL, NULL,
                           GetModuleHandleA(NULL), NULL);
}

bool g_lostMessages = false;

// Nanoseconds per SendMessageA to the window.
double TimeSends(HWND window, int count)
{
    LRESULT sum = 0;
    double start = bench::Now();
    for (int i = 0; i < count; ++i)
        sum += SendMessageA(window, kProbe, static_cast<WPARAM>(i), 0);
    double elapsed = bench::Now() - start;
    LRESULT expected = static_cast<LRESULT>(count) * (count + 1) / 2;
    if (sum != expected)
        g_lostMessages = true;
    return elapsed * 1e9 / count;
}

// ---- A measured pair --------------------------------------------------------------------

struct Pair {
    std::vector<double> base;
    std::vector<double> other;
    std::vector<double> ratios;   // each round's other / base
};

void PrintPair(const char* baseName, const char* otherName, const Pair& pair)
{
    bench::Summary base = bench::Summarize(pair.base);
    bench::Summary other = bench::Summarize(pair.other);
    bench::Summary ratio = bench::Summarize(pair.ratios);
    std::printf("  %-44s %8.0f ns  [%.0f .. %.0f]\n", baseName, base.median, base.best, base.worst);
    std::printf("  %-44s %8.0f ns  [%.0f .. %.0f]\n", otherName, other.median, other.best, other.worst);
    std::printf("  %-44s %8.3f    (best/best %.3f; paired ratios %.3f [%.3f .. %.3f])\n", "ratio median/median",
                other.median / base.median, other.best / base.best, ratio.median, ratio.best, ratio.worst);
    std::fflush(stdout);
}

// Runs the two cases alternately, each round in the other order, so that a drift of the
// machine's load falls on both.
template <class Base, class Other>
Pair Alternate(int rounds, Base base, Other other)
{
    Pair pair;
    base();   // warm-up
    other();
    for (int round = 0; round < rounds; ++round) {
        double a, b;
        if (round % 2) {
            a = base();
            b = other();
        } else {
            b = other();
            a = base();
        }
        pair.base.push_back(a);
        pair.other.push_back(b);
        pair.ratios.push_back(b / a);
    }
    return pair;
}

// ---- 1. Message overhead ----------------------------------------------------------------

const int kSubclassRounds = 21;
const int kSubclassSends = 20000;
const int kHookRounds = 41;
const int kHookSends = 1000;

// References for what any subclassing costs: a procedure that only passes each message on,
// through CallWindowProcA as it must, or (valid only for this window, whose previous
// procedure is a plain ANSI function) by calling it directly.
WNDPROC g_barePrevious;

LRESULT CALLBACK BareSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return CallWindowProcA(g_barePrevious, window, message, wParam, lParam);
}

LRESULT CALLBACK DirectSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return g_barePrevious(window, message, wParam, lParam);
}

void BenchSubclass()
{
    std::printf("\n1a. SendMessageA to a window of this thread, subclassed or not (ns per message, median "
                "[best .. worst] of %d samples of %d messages)\n",
                kSubclassRounds, kSubclassSends);
    HWND plain = CreateTarget();
    HWND bareWindow = CreateTarget();
    HWND directWindow = CreateTarget();
    HWND baseWindow = CreateTarget();
    HWND folderWindow = CreateTarget();
    HWND viewWindow = CreateTarget();
    CLSWinHook base(baseWindow);
    MailViewWinHook folder(folderWindow);
    MailViewWinHook view(viewWindow);
    view.isView = 1;
    if (!base.Subclass() || !folder.Subclass() || !view.Subclass()) {
        std::printf("  the windows could not be subclassed\n");
        return;
    }
    g_barePrevious = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(bareWindow, GWLP_WNDPROC));
    SetWindowLongPtrA(bareWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(BareSubclassProc));
    SetWindowLongPtrA(directWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DirectSubclassProc));
    std::printf("  (registry: %u windows)\n", static_cast<unsigned>(g_winHookRegistry.size()));

    struct Case {
        const char* name;
        HWND window;
    } cases[] = {
        {"reference: direct call of the previous proc", directWindow},
        {"reference: CallWindowProcA of the previous", bareWindow},
        {"CLSWinHook, handler does nothing", baseWindow},
        {"MailViewWinHook, folder controller", folderWindow},
        {"MailViewWinHook, view controller", viewWindow},
    };
    for (const Case& c : cases) {
        HWND window = c.window;
        Pair pair = Alternate(
            kSubclassRounds, [plain] { return TimeSends(plain, kSubclassSends); },
            [window] { return TimeSends(window, kSubclassSends); });
        PrintPair("same class, not subclassed", c.name, pair);
    }
    // The plug-in's own share: its subclass procedure against the least that one costs.
    Pair own = Alternate(
        kSubclassRounds, [bareWindow] { return TimeSends(bareWindow, kSubclassSends); },
        [folderWindow] { return TimeSends(folderWindow, kSubclassSends); });
    PrintPair("reference: CallWindowProcA of the previous", "MailViewWinHook, folder controller", own);
    view.Unsubclass();
    folder.Unsubclass();
    base.Unsubclass();
    DestroyWindow(viewWindow);
    DestroyWindow(folderWindow);
    DestroyWindow(baseWindow);
    DestroyWindow(directWindow);
    DestroyWindow(bareWindow);
    DestroyWindow(plain);
}

HHOOK g_minimalHook;

LRESULT CALLBACK MinimalHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    return CallNextHookEx(g_minimalHook, code, wParam, lParam);
}

double TimeWithMinimalHook(HWND window)
{
    g_minimalHook = SetWindowsHookExA(WH_CALLWNDPROC, MinimalHookProc, NULL, GetCurrentThreadId());
    if (!g_minimalHook)
        g_lostMessages = true;
    double ns = TimeSends(window, kHookSends);
    UnhookWindowsHookEx(g_minimalHook);
    g_minimalHook = NULL;
    return ns;
}

double TimeWithPluginHook(HWND window)
{
    ThreadHookEntry entry;
    entry.hook = 0;
    entry.threadId = GetCurrentThreadId();
    if (!entry.Install(CallWndHookProc))
        g_lostMessages = true;
    double ns = TimeSends(window, kHookSends);
    entry.Remove();
    return ns;
}

void BenchThreadHook()
{
    std::printf("\n1b. SendMessageA to a window of a hooked thread (ns per message, median [best .. worst] of "
                "%d samples of %d messages; hooks installed and removed for each sample)\n",
                kHookRounds, kHookSends);
    HWND window = CreateTarget();
    std::vector<double> unhooked;
    for (int i = 0; i < kHookRounds; ++i)
        unhooked.push_back(TimeSends(window, kHookSends));
    bench::Summary none = bench::Summarize(unhooked);
    std::printf("  %-44s %8.0f ns  [%.0f .. %.0f]  (for scale)\n", "no hook at all", none.median, none.best,
                none.worst);
    Pair pair = Alternate(
        kHookRounds, [window] { return TimeWithMinimalHook(window); },
        [window] { return TimeWithPluginHook(window); });
    PrintPair("hook that only calls CallNextHookEx", "ThreadHookEntry with CallWndHookProc", pair);

    // What CallWndHookProc does beyond the minimal hook for a message that it ignores.
    ThreadHookEntry entry;
    entry.hook = 0;
    entry.threadId = GetCurrentThreadId();
    entry.Install(CallWndHookProc);
    const int lookups = 1000000;
    std::vector<double> own;
    UINT_PTR sum = 0;
    for (int round = 0; round < 9; ++round) {
        double start = bench::Now();
        for (int i = 0; i < lookups; ++i)
            sum += reinterpret_cast<UINT_PTR>(FindThreadHook(GetCurrentThreadId()));
        own.push_back((bench::Now() - start) * 1e9 / lookups);
    }
    entry.Remove();
    if (!sum)
        g_lostMessages = true;
    bench::Summary s = bench::Summarize(own);
    std::printf("  %-44s %8.1f ns  [%.1f .. %.1f]\n", "its own work: FindThreadHook(GetCurrentThreadId())",
                s.median, s.best, s.worst);
    DestroyWindow(window);
}

// ---- 2. Lookup scale --------------------------------------------------------------------

const int kLookupSizes[] = {10, 1000, 100000};
// Two sets of keys, visited in a pseudo-random order that the branch predictor can't learn:
// a few whose search paths stay in the cache (the search's own cost), and many whose
// paths don't (a large registry's cache misses added).
const int kCachedKeys = 64;
const int kScatteredKeys = 65536;
const int kLookupsPerSample = 2000000;
const int kLookupSamples = 9;

// Distinct scattered keys: multiplying by an odd number is a bijection on 32 bits.
DWORD FakeKey(int i)
{
    return static_cast<DWORD>(static_cast<unsigned>(i + 1) * 2654435761u);
}

std::vector<DWORD> PickKeys(int registered, int picks)
{
    std::vector<DWORD> keys;
    unsigned seed = 12345;
    for (int i = 0; i < picks; ++i) {
        seed = seed * 1103515245u + 12345u;
        keys.push_back(FakeKey(static_cast<int>((seed >> 8) % static_cast<unsigned>(registered))));
    }
    return keys;
}

// Nanoseconds per lookup; the number of keys is a power of two.
template <class Lookup>
double TimeLookups(const std::vector<DWORD>& keys, Lookup lookup, bool* allFound)
{
    int bits = 0;
    while ((size_t(1) << bits) < keys.size())
        ++bits;
    UINT_PTR sum = 0;
    unsigned misses = 0;
    unsigned seed = 1;
    double start = bench::Now();
    for (int i = 0; i < kLookupsPerSample; ++i) {
        seed = seed * 1664525u + 1013904223u;
        UINT_PTR found = lookup(keys[seed >> (32 - bits)]);
        misses += found == 0;
        sum += found;
    }
    double elapsed = bench::Now() - start;
    *allFound = misses == 0 && sum != 0;
    return elapsed * 1e9 / kLookupsPerSample;
}

// The loop's own cost (picking the key, the call, summing), taken off the figures below.
double g_loopNs;

__attribute__((noinline)) UINT_PTR NoLookup(DWORD key)
{
    asm volatile("" : "+r"(key));
    return static_cast<UINT_PTR>(key);
}

template <class Lookup>
void MeasureLookups(const char* name, int count, Lookup lookup)
{
    std::printf("  %-15s n = %6d", name, count);
    const int keySets[] = {kCachedKeys, kScatteredKeys};
    for (int picks : keySets) {
        std::vector<DWORD> keys = PickKeys(count, picks);
        bool found = true, all = true;
        TimeLookups(keys, lookup, &found);   // warm-up
        std::vector<double> samples;
        for (int i = 0; i < kLookupSamples; ++i) {
            samples.push_back(TimeLookups(keys, lookup, &found));
            all = all && found;
        }
        bench::Summary s = bench::Summarize(samples);
        double net = s.median - g_loopNs;
        std::printf("   %6.1f ns [%5.1f .. %5.1f] net %5.1f, %4.2f/log2(n)%s", s.median, s.best, s.worst, net,
                    net / std::log2(static_cast<double>(count)), all ? "" : " (a key was missing)");
    }
    std::printf("\n");
    std::fflush(stdout);
}

void BenchLookups()
{
    std::printf("\n2. Registry lookups with fake entries, all keys present (ns per lookup, median [best .. worst] "
                "of %d samples of %d lookups)\n",
                kLookupSamples, kLookupsPerSample);
    std::vector<DWORD> keys = PickKeys(1000, kCachedKeys);
    std::vector<double> loop;
    bool found;
    for (int i = 0; i < kLookupSamples; ++i)
        loop.push_back(TimeLookups(keys, NoLookup, &found));
    g_loopNs = bench::Summarize(loop).median;
    std::printf("  (the measuring loop alone: %.1f ns per turn, taken off as \"net\")\n", g_loopNs);
    std::printf("  %-15s %10s   %-50s %s\n", "", "", "64 keys (search paths cached)",
                "65536 keys (paths not cached)");
    // The plug-in's own entries are put back afterwards.
    std::vector<CLSWinHook*> savedWindows;
    std::vector<ThreadHookEntry*> savedThreads;
    savedWindows.swap(g_winHookRegistry);
    savedThreads.swap(g_threadHookRegistry);

    for (int count : kLookupSizes) {
        std::vector<CLSWinHook> objects;
        std::vector<ThreadHookEntry> entries(static_cast<size_t>(count));
        objects.reserve(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) {
            objects.push_back(CLSWinHook(reinterpret_cast<HWND>(static_cast<UINT_PTR>(FakeKey(i)))));
            entries[static_cast<size_t>(i)].hook = reinterpret_cast<HHOOK>(static_cast<UINT_PTR>(i + 1));
            entries[static_cast<size_t>(i)].threadId = FakeKey(i);
        }
        // Sorted as the registries keep themselves: ascending unsigned keys.
        for (CLSWinHook& object : objects)
            g_winHookRegistry.push_back(&object);
        std::sort(g_winHookRegistry.begin(), g_winHookRegistry.end(), [](const CLSWinHook* a, const CLSWinHook* b) {
            return reinterpret_cast<UINT_PTR>(a->hwnd) < reinterpret_cast<UINT_PTR>(b->hwnd);
        });
        for (ThreadHookEntry& entry : entries)
            g_threadHookRegistry.push_back(&entry);
        std::sort(g_threadHookRegistry.begin(), g_threadHookRegistry.end(),
                  [](const ThreadHookEntry* a, const ThreadHookEntry* b) { return a->threadId < b->threadId; });

        MeasureLookups("FindWinHook", count, [](DWORD key) {
            return reinterpret_cast<UINT_PTR>(FindWinHook(reinterpret_cast<HWND>(static_cast<UINT_PTR>(key))));
        });
        MeasureLookups("FindThreadHook", count,
                       [](DWORD key) { return reinterpret_cast<UINT_PTR>(FindThreadHook(key)); });
        g_winHookRegistry.clear();
        g_threadHookRegistry.clear();
    }
    savedWindows.swap(g_winHookRegistry);
    savedThreads.swap(g_threadHookRegistry);
}

}  // namespace

int main()
{
    bench::PrintMachine("hook_bench");
    BenchSubclass();
    BenchThreadHook();
    BenchLookups();
    if (g_lostMessages) {
        std::printf("\nhook_bench: a message did not reach its window, or a hook could not be installed\n");
        return 1;
    }
    return 0;
}

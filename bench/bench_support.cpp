#include "bench/bench_support.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

namespace bench {

double Now()
{
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

Summary Summarize(std::vector<double> samples)
{
    Summary summary = {0, 0, 0};
    if (samples.empty())
        return summary;
    std::sort(samples.begin(), samples.end());
    size_t n = samples.size();
    summary.best = samples.front();
    summary.worst = samples.back();
    summary.median = n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
    return summary;
}

void PrintMachine(const char* program)
{
    char model[128] = "unknown CPU";
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", 0,
                      KEY_READ, &key) == ERROR_SUCCESS) {
        DWORD size = sizeof model - 1;
        DWORD type = 0;
        if (RegQueryValueExA(key, "ProcessorNameString", NULL, &type, reinterpret_cast<BYTE*>(model),
                             &size) != ERROR_SUCCESS || type != REG_SZ)
            lstrcpynA(model, "unknown CPU", sizeof model);
        model[sizeof model - 1] = '\0';
        RegCloseKey(key);
    }
    SYSTEM_INFO system;
    ZeroMemory(&system, sizeof system);
    GetSystemInfo(&system);
    std::printf("%s: %s, %lu logical processors\n", program, model,
                static_cast<unsigned long>(system.dwNumberOfProcessors));
    std::fflush(stdout);
}

}  // namespace bench

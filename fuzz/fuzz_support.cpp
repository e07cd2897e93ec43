#include "fuzz/fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace {

void RemoveFuzzMailFile()
{
    std::error_code ignored;
    std::filesystem::remove(FuzzMailPath(), ignored);
}

}  // namespace

const std::string& FuzzMailPath()
{
    static const std::string path =
        (std::filesystem::temp_directory_path() / ("velmora-fuzz-" + std::to_string(getpid()) + ".eml")).string();
    // Registered after the path exists, so that it runs before the path is destroyed.
    static const bool removedAtExit = std::atexit(RemoveFuzzMailFile) == 0;
    (void)removedAtExit;
    return path;
}

void FuzzReport(const std::string& problem)
{
    if (problem.empty())
        return;
    fprintf(stderr, "\n== check failed: %s\n", problem.c_str());
    fflush(stderr);
    abort();
}

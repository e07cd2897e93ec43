// Included once by a test program: a crash ends the program at once with its exception
// code, instead of leaving it waiting for a debugger until the test's time runs out.
#pragma once
#include <windows.h>

#include <cstdio>

namespace exit_on_crash {

inline LONG WINAPI ExitOnCrash(EXCEPTION_POINTERS* info)
{
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    std::fprintf(stderr, "crash: exception %08lx at %p\n",
                 static_cast<unsigned long>(record->ExceptionCode), record->ExceptionAddress);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), record->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

inline const LPTOP_LEVEL_EXCEPTION_FILTER g_previous = SetUnhandledExceptionFilter(ExitOnCrash);

}  // namespace exit_on_crash

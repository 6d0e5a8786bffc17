// Windows: without this a crash opens the system's error dialog (or, under Wine, starts a
// debugger that ends the process with status 0), and the test waits for nobody or passes.
#include <windows.h>

#include <cstdio>

#include "support/TestMain.h"

namespace {

LONG WINAPI EndCrashedProcess(EXCEPTION_POINTERS* crash)
{
    std::fprintf(stderr, "test process crashed: exception 0x%08lx at %p\n", crash->ExceptionRecord->ExceptionCode,
                 crash->ExceptionRecord->ExceptionAddress);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), kCrashExitCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

} // namespace

void PrepareTestProcess()
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(EndCrashedProcess);
}

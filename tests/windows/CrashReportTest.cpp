// A crashing test must fail at once: not hang in an error dialog, and not end with status 0
// (which is what Wine's automatic debugger would leave behind). A smashed stack must end the
// process before any handler, the test main's included, can see it.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "BesideTest.h"
#include "support/TestMain.h"

namespace {

constexpr DWORD kPatienceMs = 60'000;

// Runs the probe with one test selected; returns its exit status, or -1 if it did not end.
long RunProbe(const std::wstring& testName)
{
    std::wstring commandLine = L"\"" + BesideTest(L"crash_probe.exe").wstring() + L"\" --gtest_filter=" + testName;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        ADD_FAILURE() << "CreateProcess failed with " << GetLastError();
        return -1;
    }
    long status = -1;
    if (WaitForSingleObject(process.hProcess, kPatienceMs) == WAIT_OBJECT_0) {
        DWORD exitCode = 0;
        GetExitCodeProcess(process.hProcess, &exitCode);
        status = static_cast<long>(exitCode);
    } else {
        TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return status;
}

TEST(CrashReport, CrashAndFailureEndTheTestProcessWithAFailureStatus)
{
    EXPECT_EQ(RunProbe(L"Probe.Crashes"), kCrashExitCode);
    EXPECT_EQ(RunProbe(L"Probe.FailsAnExpectation"), 1);
    EXPECT_EQ(RunProbe(L"Probe.SmashesItsStack"), static_cast<long>(STATUS_STACK_BUFFER_OVERRUN));
}

} // namespace

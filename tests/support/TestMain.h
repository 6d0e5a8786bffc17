// What the main of every test program does before GoogleTest runs.
#pragma once

// The exit status of a test process that crashed (sysexits' "internal software error").
constexpr int kCrashExitCode = 70;

// Makes a crash end the test process at once with kCrashExitCode, instead of leaving it
// waiting in a system error dialog or a debugger.
void PrepareTestProcess();

// A test program that fails on request, for CrashReportTest: it shows what the shared test
// main does with a crash and with a failed expectation, and what the module's stack protector
// (Ravento/mingw/StackProtector.cpp, linked in here) does with a smashed stack. ctest never runs
// it directly.
#include <windows.h>

#include <cstddef>

#include <gtest/gtest.h>

namespace {

// Runs past the end of a local array, as an unchecked copy would. The length and the array's
// address are read back through volatiles, so that the compiler can neither see the overrun
// coming nor cut the loop short at the array's end; not inlined, so that the overrun reaches
// the guard of its own small frame.
[[gnu::noinline]] char OverrunALocalBuffer(std::size_t length)
{
    volatile std::size_t reach = length;
    volatile char buffer[8] = {};
    volatile char* volatile at = buffer;
    for (std::size_t i = 0; i < reach; ++i)
        at[i] = 'x';
    return buffer[0];
}

} // namespace

TEST(Probe, Crashes)
{
    RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
}

TEST(Probe, FailsAnExpectation)
{
    EXPECT_EQ(1, 2);
}

TEST(Probe, SmashesItsStack)
{
    OverrunALocalBuffer(64);
}

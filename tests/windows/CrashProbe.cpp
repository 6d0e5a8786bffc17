// A test program that fails on request, for CrashReportTest: it shows what the shared test
// main does with a crash and with a failed expectation. ctest never runs it directly.
#include <windows.h>

#include <gtest/gtest.h>

TEST(Probe, Crashes)
{
    RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
}

TEST(Probe, FailsAnExpectation)
{
    EXPECT_EQ(1, 2);
}

// The main of every test program: a crash fails the test at once, then GoogleTest runs. A
// program whose tests passed but some skipped says so in its exit status, and ctest lists it
// as skipped instead of passed.
#include <gmock/gmock.h>

#include "support/TestMain.h"

int main(int argc, char** argv)
{
    PrepareTestProcess();
    testing::InitGoogleMock(&argc, argv);
    int status = RUN_ALL_TESTS();
    if (status == 0 && testing::UnitTest::GetInstance()->skipped_test_count() > 0)
        return RAVENTO_SKIPPED_EXIT_CODE;
    return status;
}

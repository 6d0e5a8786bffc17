// The main of every test program: a crash fails the test at once, then GoogleTest runs.
#include <gmock/gmock.h>

#include "support/TestMain.h"

int main(int argc, char** argv)
{
    PrepareTestProcess();
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}

// POSIX: a crash raises a signal that ends the process, and ctest reports it as a failure.
// Nothing waits for a person here, so there is nothing to turn off.
#include "support/TestMain.h"

void PrepareTestProcess() {}

// Waiting for a condition another thread or process makes true, for code that reports progress
// only through its state. The condition is checked at once, then after 1, 2, 4 ... ms (never
// more than 20 between checks, so an expensive check does not load the machine); the timeout is
// generous, so a loaded machine never fails a test that works.
#pragma once

#include <algorithm>
#include <chrono>
#include <thread>

namespace testing_support {

// True as soon as condition() holds; false when it still does not after timeout.
template <class Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(10))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::chrono::milliseconds pause(1);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
    return true;
}

} // namespace testing_support

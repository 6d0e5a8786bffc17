// The service's upload limit: at most `limit` uploads per client address within any `window`
// (a sliding window, not fixed buckets).
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace repairservice {

class RateLimiter {
public:
    using Clock = std::chrono::steady_clock;

    RateLimiter(std::size_t limit, Clock::duration window);

    // Counts one upload from client at now and returns true, or returns false (and counts
    // nothing) when the client already sent `limit` uploads in the window ending at now.
    bool Admit(const std::string& client, Clock::time_point now);

private:
    const std::size_t limit;
    const Clock::duration window;
    std::mutex mutex;
    std::map<std::string, std::deque<Clock::time_point>> uploadsByClient;
};

} // namespace repairservice

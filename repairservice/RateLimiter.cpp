#include "RateLimiter.h"

namespace repairservice {

RateLimiter::RateLimiter(std::size_t limit, Clock::duration window) : limit(limit), window(window) {}

bool RateLimiter::Admit(const std::string& client, Clock::time_point now)
{
    std::lock_guard lock(mutex);
    std::deque<Clock::time_point>& uploads = uploadsByClient[client];
    while (!uploads.empty() && uploads.front() <= now - window)
        uploads.pop_front();
    if (uploads.size() >= limit)
        return false;
    uploads.push_back(now);
    return true;
}

} // namespace repairservice

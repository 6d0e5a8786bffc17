#include "ReplayStore.h"

namespace orvane::host {

std::uintptr_t ReplayStore::Create(const std::string& id, const std::string& date)
{
    std::lock_guard lock(mutex);
    replays.push_back({id, date});
    return reinterpret_cast<std::uintptr_t>(&replays.back());
}

std::optional<ReplayInfo> ReplayStore::Find(std::uintptr_t address) const
{
    if (address == 0)
        return std::nullopt;
    std::lock_guard lock(mutex);
    for (const ReplayInfo& replay : replays) {
        if (reinterpret_cast<std::uintptr_t>(&replay) == address)
            return replay;
    }
    return std::nullopt;
}

} // namespace orvane::host

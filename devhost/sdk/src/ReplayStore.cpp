#include "ReplayStore.h"

namespace devhost {

std::uintptr_t ReplayStore::Create(const std::string& id, const std::string& date)
{
    std::lock_guard lock(mutex);
    const ReplayInfo& replay = replays.emplace_back(ReplayInfo{id, date});
    auto address = reinterpret_cast<std::uintptr_t>(&replay);
    byAddress.emplace(address, &replay);
    return address;
}

std::optional<ReplayInfo> ReplayStore::Find(std::uintptr_t address) const
{
    std::lock_guard lock(mutex);
    auto found = byAddress.find(address);
    if (found == byAddress.end())
        return std::nullopt;
    return *found->second;
}

} // namespace devhost

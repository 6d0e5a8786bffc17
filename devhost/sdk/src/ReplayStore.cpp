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

const ReplayInfo* ReplayStore::Find(std::uintptr_t address) const
{
    std::lock_guard lock(mutex);
    auto found = byAddress.find(address);
    return found == byAddress.end() ? nullptr : found->second;
}

} // namespace devhost

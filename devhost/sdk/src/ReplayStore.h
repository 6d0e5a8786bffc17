// Replay objects owned by the host. Their addresses are what game events carry; a replay lives
// as long as the host, so an address handed to a plugin never dangles.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>

#include "orvane/host/Host.h"

namespace devhost {

class ReplayStore {
public:
    std::uintptr_t Create(const std::string& id, const std::string& date);
    // Null for an address that names no replay of this store. Constant time: a plugin asks
    // several times per play, and a long script plays tens of thousands of replays. Replays
    // never change or go while the store lives, so the pointer stays good that long.
    const ReplayInfo* Find(std::uintptr_t address) const;

private:
    mutable std::mutex mutex;
    std::deque<ReplayInfo> replays; // a deque never moves its elements
    std::unordered_map<std::uintptr_t, const ReplayInfo*> byAddress;
};

} // namespace devhost

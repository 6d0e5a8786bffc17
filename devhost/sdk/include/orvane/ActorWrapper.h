// A game actor, named by its address in the game's memory. Copied freely; owns nothing.
#pragma once

#include <cstdint>

#include "orvane/SdkApi.h"

class ORVANE_SDK_API ActorWrapper {
public:
    explicit ActorWrapper(std::uintptr_t address);

    std::uintptr_t GetAddress() const;

private:
    std::uintptr_t address;
};

// A replay object owned by the host, named by its address. The wrapper converts to false
// when the address is null or names no replay the host knows.
#pragma once

#include <cstdint>

#include "orvane/SdkApi.h"
#include "orvane/UnrealStringWrapper.h"

class ORVANE_SDK_API ReplayWrapper {
public:
    explicit ReplayWrapper(std::uintptr_t address);

    explicit operator bool() const;

    // Both return an empty string for a wrapper that converts to false.
    UnrealStringWrapper GetId() const;
    UnrealStringWrapper GetDate() const;

private:
    std::uintptr_t address;
};

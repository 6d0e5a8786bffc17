// A game string handed out by the host; the plugin only reads it as narrow text.
#pragma once

#include <string>

#include "orvane/SdkApi.h"

class ORVANE_SDK_API UnrealStringWrapper {
public:
    explicit UnrealStringWrapper(std::string text);

    std::string ToString() const;

private:
    std::string text;
};

// A console variable of the host. Converts to false when the variable does not exist.
#pragma once

#include <string>

#include "orvane/SdkApi.h"

namespace orvane::host {
struct ConsoleVariable;
}

class ORVANE_SDK_API CVarWrapper {
public:
    // Made by the host; a null variable gives a wrapper that converts to false.
    explicit CVarWrapper(orvane::host::ConsoleVariable* variable);

    explicit operator bool() const;

    // Empty text for a wrapper that converts to false; setValue on it does nothing.
    std::string getStringValue() const;
    void setValue(std::string value);

private:
    orvane::host::ConsoleVariable* variable;
};

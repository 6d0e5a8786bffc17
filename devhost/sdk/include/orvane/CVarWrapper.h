// A console variable of the host. Converts to false when the variable does not exist.
#pragma once

#include <string>

#include "orvane/SdkApi.h"

class ORVANE_SDK_API CVarWrapper {
public:
    explicit operator bool() const;

    // Empty text for a wrapper that converts to false; setValue on it does nothing.
    std::string getStringValue() const;
    void setValue(std::string value);

private:
    friend struct SdkAccess; // only the host makes one, and only it knows what it points at
    explicit CVarWrapper(void* variable); // null: a wrapper that converts to false

    void* variable;
};

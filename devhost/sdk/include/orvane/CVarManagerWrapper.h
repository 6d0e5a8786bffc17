// The host console as one plugin sees it: variables, commands and the log.
#pragma once

#include <string>

#include "orvane/CVarWrapper.h"
#include "orvane/SdkApi.h"

class ORVANE_SDK_API CVarManagerWrapper {
public:
    // Registers a variable (or returns the existing one of that name). A saved value from the
    // host's configuration file replaces the default. saveToConfig marks it for "writeconfig".
    CVarWrapper registerCvar(std::string name, std::string defaultValue, std::string description = "",
                             bool searchable = true, bool hasMin = false, float min = 0.0f, bool hasMax = false,
                             float max = 0.0f, bool saveToConfig = true);
    CVarWrapper getCvar(std::string name);

    // Runs a console command on the host's game side. echo: the host also shows the command
    // in its own console output.
    void executeCommand(std::string command, bool echo = true);

    // One line in the host console, shown exactly as given.
    void log(std::string text);

private:
    friend struct SdkAccess; // only the host makes one, and only it knows what it points at
    explicit CVarManagerWrapper(void* session);

    void* session;
};

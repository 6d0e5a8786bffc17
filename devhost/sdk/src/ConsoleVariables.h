// The host's console variables, and the saved values they start from.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "orvane/host/Host.h"

namespace devhost {

class ConsoleOutput;

// What a CVarWrapper points at. Lives as long as the host; never removed once registered.
struct ConsoleVariable {
    mutable std::mutex mutex;
    ConsoleVariableInfo info;

    std::string Value() const;
    void SetValue(std::string value);
};

class ConsoleVariables {
public:
    // Reads the saved values of configFile (when it is not empty); malformed lines are reported.
    // Throws std::runtime_error when the file is there but cannot be read (see TextInput.h).
    ConsoleVariables(std::filesystem::path configFile, ConsoleOutput& output);

    // An existing variable of that name is returned unchanged.
    ConsoleVariable& Register(ConsoleVariableInfo info);
    ConsoleVariable* Find(const std::string& name);
    std::optional<ConsoleVariableInfo> Info(const std::string& name) const;
    // Saves the flagged variables; saved values of variables nobody registered this time are kept.
    bool WriteConfig();

private:
    const std::filesystem::path configFile;
    ConsoleOutput& output;
    mutable std::mutex mutex;
    std::map<std::string, std::string> savedValues;
    std::map<std::string, std::unique_ptr<ConsoleVariable>> variables;
};

} // namespace devhost

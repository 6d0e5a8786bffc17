#include "ConsoleVariables.h"

#include <stdexcept>

#include <fmt/format.h>

#include "ConfigFile.h"
#include "ConsoleOutput.h"

namespace devhost {

std::string ConsoleVariable::Value() const
{
    std::lock_guard lock(mutex);
    return info.value;
}

void ConsoleVariable::SetValue(std::string value)
{
    std::lock_guard lock(mutex);
    info.value = std::move(value);
}

ConsoleVariables::ConsoleVariables(std::filesystem::path configFile, ConsoleOutput& output)
    : configFile(std::move(configFile)), output(output)
{
    if (this->configFile.empty())
        return;
    ConfigReadResult saved = ReadConfigFile(this->configFile);
    if (!saved.error.empty())
        throw std::runtime_error(saved.error);
    for (int line : saved.malformedLines)
        output.HostLine(fmt::format("{}:{}: malformed configuration line skipped", this->configFile.string(), line));
    savedValues = std::move(saved.values);
}

ConsoleVariable& ConsoleVariables::Register(ConsoleVariableInfo info)
{
    std::lock_guard lock(mutex);
    auto& slot = variables[info.name];
    if (!slot) {
        auto saved = savedValues.find(info.name);
        info.value = saved != savedValues.end() ? saved->second : info.defaultValue;
        slot = std::make_unique<ConsoleVariable>();
        slot->info = std::move(info);
    }
    return *slot;
}

ConsoleVariable* ConsoleVariables::Find(const std::string& name)
{
    std::lock_guard lock(mutex);
    auto found = variables.find(name);
    return found != variables.end() ? found->second.get() : nullptr;
}

std::optional<ConsoleVariableInfo> ConsoleVariables::Info(const std::string& name) const
{
    std::lock_guard lock(mutex);
    auto found = variables.find(name);
    if (found == variables.end())
        return std::nullopt;
    std::lock_guard variableLock(found->second->mutex);
    return found->second->info;
}

bool ConsoleVariables::WriteConfig()
{
    if (configFile.empty()) {
        output.HostLine("writeconfig: no configuration file given, nothing saved");
        return false;
    }
    std::lock_guard lock(mutex);
    for (const auto& [name, variable] : variables) {
        std::lock_guard variableLock(variable->mutex);
        if (variable->info.saveToConfig)
            savedValues[name] = variable->info.value;
    }
    if (std::error_code error = WriteConfigFile(configFile, savedValues)) {
        output.HostLine(fmt::format("writeconfig: cannot write {}: {}", configFile.string(), error.message()));
        return false;
    }
    return true;
}

} // namespace devhost

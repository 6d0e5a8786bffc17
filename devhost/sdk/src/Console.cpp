#include "Console.h"

#include <exception>

#include <fmt/format.h>

#include "ConsoleOutput.h"
#include "ConsoleVariables.h"
#include "UiFrames.h"

namespace devhost {
namespace {

std::string Trim(const std::string& text)
{
    auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// A command line split into its name and the rest.
struct CommandLine {
    std::string name;
    std::string argument;
};

CommandLine SplitCommand(const std::string& command)
{
    std::string line = Trim(command);
    auto blank = line.find_first_of(" \t");
    std::string argument = blank == std::string::npos ? std::string() : Trim(line.substr(blank));
    return {line.substr(0, blank), argument};
}

} // namespace

Console::Console(ConsoleOutput& output, ConsoleVariables& variables, UiFrames& ui)
    : output(output), variables(variables), ui(ui)
{
}

// Commands come from the plugin's queue and the host's own callers alike: nothing may escape.
bool Console::Run(const std::string& command)
{
    try {
        return Dispatch(command);
    } catch (const std::exception& error) {
        output.HostLine(fmt::format("{}: failed: {}", command, error.what()));
        return true;
    }
}

bool Console::RunsAtOnce(const std::string& command) const
{
    return SplitCommand(command).name == "togglemenu" && ui.IsUiThread();
}

bool Console::Dispatch(const std::string& command)
{
    auto [name, argument] = SplitCommand(command);
    if (name == "togglemenu") {
        ToggleMenu(argument);
        return true;
    }
    if (name == "writeconfig") {
        if (variables.WriteConfig())
            output.HostLine("writeconfig: configuration saved");
        return true;
    }
    output.HostLine(fmt::format("Unknown command: {}", Trim(command)));
    return false;
}

void Console::ToggleMenu(const std::string& menuName)
{
    if (menuName.empty()) {
        output.HostLine("togglemenu: no menu name given");
        return;
    }
    std::optional<bool> nowOpen = ui.ToggleMenu(menuName);
    if (!nowOpen)
        output.HostLine(fmt::format("togglemenu: no menu named {}", menuName));
    else
        output.HostLine(fmt::format("togglemenu: {} {}", menuName, *nowOpen ? "opened" : "closed"));
}

void Console::Record(ExecutedCommand command)
{
    std::lock_guard lock(mutex);
    executed.push_back(std::move(command));
}

std::vector<ExecutedCommand> Console::Executed() const
{
    std::lock_guard lock(mutex);
    return executed;
}

} // namespace devhost

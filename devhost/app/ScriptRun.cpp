#include "ScriptRun.h"

#include <fmt/format.h>

std::optional<std::vector<ScriptLine>> ParseScript(std::istream& script, const std::string& scriptName,
                                                   const ScriptOutput& output)
{
    std::vector<ScriptLine> lines;
    bool malformed = false;
    std::string line;
    for (int number = 1; std::getline(script, line); ++number) {
        ParsedLine parsed = ParseScriptLine(line);
        if (!parsed.error.empty()) {
            output.complaint(fmt::format("{}:{}: {}", scriptName, number, parsed.error));
            malformed = true;
        } else if (parsed.command) {
            lines.push_back({number, std::move(*parsed.command)});
        }
    }
    if (malformed) {
        output.complaint(fmt::format("{}: nothing was run", scriptName));
        return std::nullopt;
    }
    return lines;
}

RunOutcome RunScript(devhost::Host& host, std::istream& script, const std::string& scriptName,
                     const ScriptOutput& output, const std::function<bool()>& stopRequested)
{
    auto lines = ParseScript(script, scriptName, output);
    if (!lines)
        return RunOutcome::Failed;
    CommandRunner runner(host, kSettleTimeout, output);
    for (const ScriptLine& line : *lines) {
        if (stopRequested && stopRequested())
            return RunOutcome::Quit;
        RunOutcome outcome = runner.Run(line.command);
        if (outcome == RunOutcome::Failed)
            output.complaint(fmt::format("{}:{}: command failed", scriptName, line.number));
        if (outcome != RunOutcome::Continue)
            return outcome;
    }
    return RunOutcome::Continue;
}

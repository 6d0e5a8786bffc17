#include "ScriptRun.h"

#include <fmt/format.h>

RunOutcome RunScript(devhost::Host& host, std::istream& script, const std::string& scriptName,
                     const ScriptOutput& output, const std::function<bool()>& stopRequested)
{
    CommandRunner runner(host, kSettleTimeout, output);
    std::string line;
    for (int number = 1; std::getline(script, line); ++number) {
        if (stopRequested && stopRequested())
            return RunOutcome::Quit;
        ParsedLine parsed = ParseScriptLine(line);
        if (!parsed.error.empty()) {
            output.complaint(fmt::format("{}:{}: {}", scriptName, number, parsed.error));
            return RunOutcome::Failed;
        }
        if (!parsed.command)
            continue;
        RunOutcome outcome = runner.Run(*parsed.command);
        if (outcome == RunOutcome::Failed)
            output.complaint(fmt::format("{}:{}: command failed", scriptName, number));
        if (outcome != RunOutcome::Continue)
            return outcome;
    }
    return RunOutcome::Continue;
}

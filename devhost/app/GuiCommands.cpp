#include "GuiCommands.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include <fmt/format.h>

#include "DemosFolderVariable.h"
#include "ScriptRun.h"

namespace {

// How often the replays pane's listing is refreshed while nothing is typed.
constexpr std::chrono::milliseconds kListingInterval{400};

// Any other line goes to the console, which reports a command it does not know; a mistyped
// script command ("pley") is told the one it most likely meant, as in a script.
void RunConsoleLine(devhost::Host& host, const std::string& line, const ScriptOutput& output)
{
    const bool known = host.ExecuteCommand(line);
    host.FinishGameWork();
    const std::size_t start = std::min(line.find_first_not_of(" \t"), line.size());
    const std::string word = line.substr(start, line.find_first_of(" \t", start) - start);
    const std::string nearest = known ? std::string() : NearestScriptVerb(word);
    if (!nearest.empty())
        output.complaint(fmt::format("unknown command '{}' (did you mean '{}'?)", word, nearest));
}

// A typed line that fails is reported and the window stays usable; only quit ends the loop.
RunOutcome RunTypedLine(devhost::Host& host, CommandRunner& runner, const std::string& line,
                        const ScriptOutput& output)
{
    if (!StartsWithScriptVerb(line)) {
        RunConsoleLine(host, line, output);
        return RunOutcome::Continue;
    }
    ParsedLine parsed = ParseScriptLine(line);
    if (!parsed.error.empty()) {
        output.complaint(parsed.error);
        return RunOutcome::Continue;
    }
    return parsed.command ? runner.Run(*parsed.command) : RunOutcome::Continue;
}

} // namespace

ReplaysFolder ListReplaysFolder(const devhost::Host& host)
{
    ReplaysFolder folder;
    if (auto variable = host.Variable(kDemosFolderVariable))
        folder.path = variable->value;
    if (folder.path.empty())
        return folder;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder.path, error), end; !error && entry != end;
         entry.increment(error)) {
        std::error_code ignored;
        if (entry->is_regular_file(ignored))
            folder.files.push_back({entry->path().filename().string(), entry->file_size(ignored)});
    }
    if (error)
        folder.error = error.message();
    std::sort(folder.files.begin(), folder.files.end(),
              [](const ReplayFile& a, const ReplayFile& b) { return a.name < b.name; });
    return folder;
}

RunOutcome RunTypedCommands(devhost::Host& host, GuiSession& gui, const ScriptOutput& output)
{
    CommandRunner runner(host, kSettleTimeout, output);
    gui.SetReplays(ListReplaysFolder(host));
    while (!gui.IsClosed()) {
        if (auto line = gui.WaitForCommand(kListingInterval)) {
            if (RunTypedLine(host, runner, *line, output) == RunOutcome::Quit)
                return RunOutcome::Quit;
        }
        gui.SetReplays(ListReplaysFolder(host));
    }
    return RunOutcome::Continue;
}

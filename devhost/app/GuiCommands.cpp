#include "GuiCommands.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "DemosFolderVariable.h"
#include "ScriptRun.h"

namespace {

// How often the replays pane's listing is refreshed while nothing is typed.
constexpr std::chrono::milliseconds kListingInterval{400};

// A typed line that fails is reported and the window stays usable; only quit ends the loop.
RunOutcome RunTypedLine(CommandRunner& runner, const std::string& line, const ScriptOutput& output)
{
    if (!StartsWithScriptVerb(line)) {
        ScriptCommand console;
        console.verb = ScriptVerb::Console;
        console.text = line;
        return runner.Run(console);
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
            if (RunTypedLine(runner, *line, output) == RunOutcome::Quit)
                return RunOutcome::Quit;
        }
        gui.SetReplays(ListReplaysFolder(host));
    }
    return RunOutcome::Continue;
}

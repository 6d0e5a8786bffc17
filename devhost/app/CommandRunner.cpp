#include "CommandRunner.h"

#include <algorithm>

#include <fmt/format.h>

#include "UnsentPlay.h"

CommandRunner::CommandRunner(devhost::Host& host, std::chrono::milliseconds settleTimeout, ScriptOutput output)
    : host(host), settleTimeout(settleTimeout), output(std::move(output))
{
}

// Work a command queued (a clicked button's deferred commands, say) runs before the next
// command, as it would have on the game thread's next turn while the user looked.
RunOutcome CommandRunner::Run(const ScriptCommand& command)
{
    RunOutcome outcome = Carry(command);
    if (outcome == RunOutcome::Continue)
        host.FinishGameWork();
    return outcome;
}

RunOutcome CommandRunner::Carry(const ScriptCommand& command)
{
    switch (command.verb) {
    case ScriptVerb::Wait:
        host.Advance(command.seconds);
        return RunOutcome::Continue;
    case ScriptVerb::Play:
        return Play(command.text, command.date);
    case ScriptVerb::PlayNull:
        host.FireEvent(devhost::kPlayReplayEvent, 0);
        return RunOutcome::Continue;
    case ScriptVerb::Settle:
        // What follows a settle relies on every reply having been handled: stop here.
        if (!host.Settle(settleTimeout))
            return Fail(SettleFailure());
        return RunOutcome::Continue;
    case ScriptVerb::Frame:
        host.RunFrames(command.frames);
        return RunOutcome::Continue;
    case ScriptVerb::Console:
        host.ExecuteCommand(command.text); // the console reports unknown commands itself
        return RunOutcome::Continue;
    case ScriptVerb::Show:
        return Show();
    case ScriptVerb::Type:
        if (!host.TypeText(command.text))
            return Fail("type: no open window with a text entry");
        return RunOutcome::Continue;
    case ScriptVerb::Clear:
        if (!host.ClearText())
            return Fail("clear: no open window with a text entry");
        return RunOutcome::Continue;
    case ScriptVerb::Click:
        if (!host.Click(command.text))
            return Fail(fmt::format("click: no button '{}' in an open window", command.text));
        return RunOutcome::Continue;
    case ScriptVerb::Cvar:
        return PrintVariable(command.text);
    case ScriptVerb::Screenshot:
        if (auto error = host.SaveScreenshot(command.text, command.windowOnly))
            return Fail(fmt::format("screenshot: {}", *error));
        return RunOutcome::Continue;
    case ScriptVerb::Quit:
        return RunOutcome::Quit;
    }
    return Fail("command not handled");
}

// Says which requests held the host up: an answer that never came is the service's (or the
// network's) doing, a reply still being handled the plugin's.
std::string CommandRunner::SettleFailure() const
{
    const std::size_t outstanding = host.OutstandingRequests();
    const std::size_t handled = std::min(host.RequestsBeingHandled(), outstanding); // two looks, not one
    std::string text = fmt::format("settle: timed out after {} ms with {} request(s) unanswered", settleTimeout.count(),
                                   outstanding - handled);
    if (handled != 0)
        text += fmt::format(" and {} answered whose reply is still being handled", handled);
    return text;
}

// The plugin turns replays down without a word; say so, so that a script that expected an
// upload does not wait for one in silence. Not a failure: turning a replay down is normal.
RunOutcome CommandRunner::Play(const std::string& id, const std::string& date)
{
    const std::uint64_t sentBefore = host.RequestsSent();
    host.PlayReplay(id, date);
    host.FinishGameWork();
    if (host.RequestsSent() == sentBefore)
        output.complaint(ExplainUnsentPlay(host, id, date));
    return RunOutcome::Continue;
}

RunOutcome CommandRunner::Show()
{
    if (!host.IsWindowOpen()) {
        Result("(no window is open)");
        return RunOutcome::Continue;
    }
    std::string text = host.CaptureFrameText();
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    // Every line of a multi-line capture carries the prefix.
    std::size_t start = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
        Result(text.substr(start, end - start));
        start = end + 1;
    }
    Result(text.substr(start));
    return RunOutcome::Continue;
}

RunOutcome CommandRunner::PrintVariable(const std::string& name)
{
    auto variable = host.Variable(name);
    if (!variable)
        return Fail(fmt::format("cvar: no console variable named {}", name));
    Result(fmt::format("{} = {}", name, variable->value));
    return RunOutcome::Continue;
}

void CommandRunner::Result(const std::string& text)
{
    output.result(kResultPrefix + text);
}

RunOutcome CommandRunner::Fail(const std::string& message)
{
    output.complaint(message);
    return RunOutcome::Failed;
}

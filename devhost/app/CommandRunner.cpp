#include "CommandRunner.h"

#include <cstdio>

#include <fmt/format.h>

namespace {

void PrintResult(const std::string& text)
{
    fmt::print(stdout, "{}\n", text);
    std::fflush(stdout);
}

RunOutcome Fail(const std::string& message)
{
    fmt::print(stderr, "devhost: {}\n", message);
    return RunOutcome::Failed;
}

} // namespace

CommandRunner::CommandRunner(orvane::host::Host& host, std::chrono::milliseconds settleTimeout)
    : host(host), settleTimeout(settleTimeout)
{
}

RunOutcome CommandRunner::Run(const ScriptCommand& command)
{
    switch (command.verb) {
    case ScriptVerb::Wait:
        host.Advance(command.seconds);
        return RunOutcome::Continue;
    case ScriptVerb::Play:
        host.PlayReplay(command.text, command.date);
        return RunOutcome::Continue;
    case ScriptVerb::PlayNull:
        host.FireEvent(orvane::host::kPlayReplayEvent, 0);
        return RunOutcome::Continue;
    case ScriptVerb::Settle:
        if (!host.Settle(settleTimeout))
            fmt::print(stderr, "devhost: settle: timed out after {} ms with {} request(s) unanswered\n",
                       settleTimeout.count(), host.OutstandingRequests());
        return RunOutcome::Continue;
    case ScriptVerb::Frame:
        host.RunFrames(command.frames);
        return RunOutcome::Continue;
    case ScriptVerb::Console:
        host.ExecuteCommand(command.text);  // the console reports unknown commands itself
        return RunOutcome::Continue;
    case ScriptVerb::Show:
        return Show();
    case ScriptVerb::Type:
        if (!host.TypeText(command.text))
            return Fail("type: no open window with a text entry");
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

RunOutcome CommandRunner::Show()
{
    if (!host.IsWindowOpen()) {
        PrintResult("(no window is open)");
        return RunOutcome::Continue;
    }
    std::string text = host.CaptureFrameText();
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    PrintResult(text);
    return RunOutcome::Continue;
}

RunOutcome CommandRunner::PrintVariable(const std::string& name)
{
    auto variable = host.Variable(name);
    if (!variable)
        return Fail(fmt::format("cvar: no console variable named {}", name));
    PrintResult(fmt::format("{} = {}", name, variable->value));
    return RunOutcome::Continue;
}

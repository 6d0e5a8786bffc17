#include "GuiSession.h"

std::function<void(const std::string&)> GuiSession::MirrorTo(std::FILE* stream, LineSource source)
{
    return [this, stream, source](const std::string& line) {
        std::fwrite(line.data(), 1, line.size(), stream);
        std::fputc('\n', stream);
        std::fflush(stream);
        AddLine(line, source);
    };
}

void GuiSession::AddLine(std::string text, LineSource source)
{
    std::lock_guard lock(mutex);
    lines.push_back({std::move(text), source});
    if (lines.size() > kMaxLines)
        lines.pop_front();
    ++linesVersion;
}

bool GuiSession::CopyLinesIfChanged(std::vector<ConsoleLine>& copy, std::uint64_t& version) const
{
    std::lock_guard lock(mutex);
    if (version == linesVersion)
        return false;
    copy.assign(lines.begin(), lines.end());
    version = linesVersion;
    return true;
}

void GuiSession::QueueCommand(std::string line)
{
    AddLine("> " + line, LineSource::Typed);
    {
        std::lock_guard lock(mutex);
        commands.push_back(std::move(line));
    }
    wakeMain.notify_all();
}

std::optional<std::string> GuiSession::WaitForCommand(std::chrono::milliseconds wait)
{
    std::unique_lock lock(mutex);
    wakeMain.wait_for(lock, wait, [this] { return closed || !commands.empty(); });
    if (closed || commands.empty())
        return std::nullopt;
    std::string line = std::move(commands.front());
    commands.pop_front();
    return line;
}

void GuiSession::SetReplays(ReplaysFolder folder)
{
    std::lock_guard lock(mutex);
    if (folder == replays)
        return;
    replays = std::move(folder);
    ++replaysVersion;
}

bool GuiSession::CopyReplaysIfChanged(ReplaysFolder& copy, std::uint64_t& version) const
{
    std::lock_guard lock(mutex);
    if (version == replaysVersion)
        return false;
    copy = replays;
    version = replaysVersion;
    return true;
}

void GuiSession::MarkClosed()
{
    {
        std::lock_guard lock(mutex);
        closed = true;
    }
    wakeMain.notify_all();
}

bool GuiSession::IsClosed() const
{
    std::lock_guard lock(mutex);
    return closed;
}

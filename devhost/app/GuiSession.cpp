#include "GuiSession.h"

std::function<void(const std::string&)> GuiSession::MirrorTo(std::FILE* stream, bool fromHost)
{
    return [this, stream, fromHost](const std::string& line) {
        std::fwrite(line.data(), 1, line.size(), stream);
        std::fputc('\n', stream);
        std::fflush(stream);
        AddLine(line, fromHost);
    };
}

void GuiSession::AddLine(std::string text, bool fromHost)
{
    std::lock_guard lock(mutex);
    lines.push_back({std::move(text), fromHost});
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

void GuiSession::MarkClosed()
{
    {
        std::lock_guard lock(mutex);
        closed = true;
    }
    closedSignal.notify_all();
}

bool GuiSession::IsClosed() const
{
    std::lock_guard lock(mutex);
    return closed;
}

void GuiSession::WaitUntilClosed()
{
    std::unique_lock lock(mutex);
    closedSignal.wait(lock, [this] { return closed; });
}

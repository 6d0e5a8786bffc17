// What devhost's desktop window (--gui) shares between the main thread, which runs the script,
// and the host's UI thread, which draws the window: the console lines shown in the window's
// pane, and whether the user has closed the window.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct ConsoleLine {
    std::string text;
    bool fromHost = false; // a host line; otherwise a plugin log line
};

class GuiSession {
public:
    // A log sink for HostOptions: writes each line to the stream, as devhost does without a
    // window, and keeps it for the pane.
    std::function<void(const std::string&)> MirrorTo(std::FILE* stream, bool fromHost);
    void AddLine(std::string text, bool fromHost);
    // Copies the lines into `copy` when they changed since `version`; returns whether it did.
    bool CopyLinesIfChanged(std::vector<ConsoleLine>& copy, std::uint64_t& version) const;

    void MarkClosed();
    bool IsClosed() const;
    void WaitUntilClosed();

private:
    // The pane keeps the newest lines; every line still reaches its stream.
    static constexpr std::size_t kMaxLines = 5000;

    mutable std::mutex mutex;
    std::condition_variable closedSignal;
    std::deque<ConsoleLine> lines;
    std::uint64_t linesVersion = 0;
    bool closed = false;
};

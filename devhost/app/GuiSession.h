// What devhost's desktop window (--gui) shares between the main thread, which runs the script
// and the commands typed into the window, and the host's UI thread, which draws the window: the
// console lines of its pane, the commands typed, the replays folder's files, the requests, and
// whether the user has closed the window.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "RequestLog.h"

enum class LineSource {
    Plugin, // the plugin's log lines
    Host, // the host's and devhost's own lines
    Typed, // a command typed into the window, echoed
};

struct ConsoleLine {
    std::string text;
    LineSource source = LineSource::Plugin;
};

struct ReplayFile {
    std::string name;
    std::uintmax_t size = 0;
    bool operator==(const ReplayFile&) const = default;
};

struct ReplaysFolder {
    std::string path; // empty: the plugin has none yet
    std::vector<ReplayFile> files; // sorted by name
    std::string error; // why the folder could not be listed
    bool operator==(const ReplaysFolder&) const = default;
};

class GuiSession {
public:
    // A log sink for HostOptions: writes each line to the stream, as devhost does without a
    // window, and keeps it for the pane.
    std::function<void(const std::string&)> MirrorTo(std::FILE* stream, LineSource source);
    void AddLine(std::string text, LineSource source);
    // Copies the lines into `copy` when they changed since `version`; returns whether it did.
    bool CopyLinesIfChanged(std::vector<ConsoleLine>& copy, std::uint64_t& version) const;

    // From the UI thread: a command line for the main thread to run (echoed in the pane).
    void QueueCommand(std::string line);
    // On the main thread: the next typed command, or none once the wait is over or the window
    // has closed.
    std::optional<std::string> WaitForCommand(std::chrono::milliseconds wait);

    void SetReplays(ReplaysFolder folder);
    bool CopyReplaysIfChanged(ReplaysFolder& copy, std::uint64_t& version) const;

    RequestLog& Requests() { return requests; }
    const RequestLog& Requests() const { return requests; }

    void MarkClosed();
    bool IsClosed() const;

private:
    // The pane keeps the newest lines; every line still reaches its stream.
    static constexpr std::size_t kMaxLines = 5000;

    mutable std::mutex mutex;
    std::condition_variable wakeMain; // a command came, or the window closed
    std::deque<ConsoleLine> lines;
    std::uint64_t linesVersion = 0;
    std::deque<std::string> commands;
    ReplaysFolder replays;
    std::uint64_t replaysVersion = 0;
    bool closed = false;
    RequestLog requests;
};

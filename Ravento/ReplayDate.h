// The date a replay reports, read the way `sscanf(date, "%4d-%2d-%2d")` reads it, and the window
// of dates whose replays are worth repairing.
#pragma once

#include <string>

namespace plugin {

// A field that is missing or malformed stays 0, and so does every field after it.
struct ReplayDate {
    int year = 0;
    int month = 0;
    int day = 0;
};

ReplayDate ReadReplayDate(const std::string& text);

// Replays of 2025 are repaired unless both the month is at most April and the day at most the
// 23rd (month and day are compared each on its own, not as a calendar date).
bool IsInRepairWindow(const std::string& replayDate);

} // namespace plugin

// Where devhost --gui puts its own panes on the 1280 x 720 display: the console along the
// bottom, the replays and requests panes down the right side, the rest left free for the
// plugin's window. Fixed, so a test can press a pane's button with the real mouse.
#pragma once

namespace pane_layout {

constexpr float kConsoleHeight = 250.0f; // at most half the display
constexpr float kSideWidth = 440.0f;
constexpr float kReplaysHeight = 250.0f; // the requests pane takes the rest of the side

// Inside the replays pane: the list of files starts at this height, one file a row, with its
// Play button at this x.
constexpr float kReplayListTop = 78.0f;
constexpr float kReplayRowHeight = 24.0f;
constexpr float kPlayButtonX = 360.0f;
constexpr float kPlayButtonWidth = 60.0f;

} // namespace pane_layout

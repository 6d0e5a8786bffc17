// The replays pane of devhost --gui: the files of the plugin's replays folder, each with its
// size, and a Play button for each replay file that plays it ("play ID DATE") with the date
// typed above the list, as the game would when the player starts it.
#pragma once

#include <cstdint>
#include <string>

#include "GuiSession.h"

class ReplaysPane {
public:
    explicit ReplaysPane(GuiSession& session) : session(session) {}

    void Draw(); // on the UI thread, between NewFrame and Render

private:
    void DrawFiles();

    GuiSession& session;
    ReplaysFolder folder; // the session's listing as of the last change
    std::uint64_t version = 0;
    std::string date = "2025-06-14"; // a date the plugin accepts; change it to try others
};

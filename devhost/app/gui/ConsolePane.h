// The host console as a Dear ImGui window along the bottom of the display: plugin log lines as
// logged, host lines dimmed. It follows new lines while scrolled to the end.
#pragma once

#include <cstdint>
#include <vector>

#include "GuiSession.h"

class ConsolePane {
public:
    explicit ConsolePane(const GuiSession& session) : session(session) {}

    void Draw(); // on the UI thread, between NewFrame and Render

private:
    void DrawLines();

    const GuiSession& session;
    std::vector<ConsoleLine> lines; // the session's lines as of the last change
    std::uint64_t version = 0;
};

// The host console as a Dear ImGui window along the bottom of the display: plugin lines, host
// lines and typed commands each tagged and coloured apart, and an input line with history
// (Up and Down) whose commands devhost's main thread runs. It follows new lines while scrolled
// to the end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "GuiSession.h"

class ConsolePane {
public:
    explicit ConsolePane(GuiSession& session) : session(session) {}

    void Draw(); // on the UI thread, between NewFrame and Render

private:
    void DrawLines();
    void DrawInput();
    void Submit();
    void RecallHistory(int step, std::string& text);

    GuiSession& session;
    std::vector<ConsoleLine> lines; // the session's lines as of the last change
    std::uint64_t version = 0;
    std::string input;
    std::vector<std::string> history; // oldest first
    std::size_t historyPosition = 0; // history.size(): the line being typed, not a recalled one
    bool focusInput = true; // on the first frame and after each command
};

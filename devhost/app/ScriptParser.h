// The development host's script language: one command a line.
//
//   wait SECONDS        play ID DATE        play-null        settle        frame [N]
//   console COMMAND...  show                type TEXT        clear         click LABEL
//   cvar NAME           screenshot FILE.png [window]         quit
//
// Words are separated by blanks; double quotes make one word of an empty text or one with blanks
// (there are no escapes, so Windows paths keep their backslashes). COMMAND, TEXT and LABEL are
// the rest of the line, or one quoted word. Blank lines and lines starting with # are ignored.
// "screenshot" saves the next frame as PNG (only the plugin's window with "window"); it needs a
// desktop window (devhost --gui) and fails in the headless UI, which draws no pixels.
#pragma once

#include <optional>
#include <string>
#include <string_view>

enum class ScriptVerb {
    Wait,
    Play,
    PlayNull,
    Settle,
    Frame,
    Console,
    Show,
    Type,
    Clear,
    Click,
    Cvar,
    Screenshot,
    Quit
};

struct ScriptCommand {
    ScriptVerb verb = ScriptVerb::Quit;
    double seconds = 0.0; // wait
    int frames = 1; // frame
    std::string text; // play: the id; console: the command; type: the text; click: the label;
                      // cvar: the name; screenshot: the file
    std::string date; // play
    bool windowOnly = false; // screenshot: only the plugin's window
};

struct ParsedLine {
    std::optional<ScriptCommand> command; // none for a blank or comment line
    std::string error; // set for a malformed line
};

ParsedLine ParseScriptLine(std::string_view line);
// Whether the first word of a line names a script command (devhost --gui runs any other line
// as a console command).
bool StartsWithScriptVerb(std::string_view line);
// The script command a mistyped word most likely meant ("pley": "play"); empty when none is near.
std::string NearestScriptVerb(std::string_view word);

// The development host's script parser: any line is a command, an error or nothing, never a
// crash; and a parsed command, written back as a script line, parses to the same command.
// The same bytes read as a whole script (from a stream, as standard input is) are refused
// exactly when they pass a size or line limit, taken from their first two bytes.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include <fmt/format.h>

#include "FuzzCheck.h"
#include "ScriptParser.h"
#include "TextLimitsCheck.h"

namespace {

const char* VerbName(ScriptVerb verb)
{
    switch (verb) {
    case ScriptVerb::Wait:
        return "wait";
    case ScriptVerb::Play:
        return "play";
    case ScriptVerb::PlayNull:
        return "play-null";
    case ScriptVerb::Settle:
        return "settle";
    case ScriptVerb::Frame:
        return "frame";
    case ScriptVerb::Console:
        return "console";
    case ScriptVerb::Show:
        return "show";
    case ScriptVerb::Type:
        return "type";
    case ScriptVerb::Click:
        return "click";
    case ScriptVerb::Clear:
        return "clear";
    case ScriptVerb::Cvar:
        return "cvar";
    case ScriptVerb::Screenshot:
        return "screenshot";
    case ScriptVerb::Quit:
        return "quit";
    }
    return "?";
}

// One word, quoted so blanks and an empty text survive (a word never holds a quote).
std::string Word(const std::string& text)
{
    return "\"" + text + "\"";
}

// A text that runs to the end of the line: quoted unless it holds a quote itself, which only an
// unquoted text can (and such a text neither starts nor ends with a blank).
std::string RestOfLine(const std::string& text)
{
    return text.find('"') == std::string::npos ? Word(text) : text;
}

// The script line that says command, as a script author would write it.
std::string ScriptLine(const ScriptCommand& command)
{
    std::string line = VerbName(command.verb);
    switch (command.verb) {
    case ScriptVerb::Wait:
        return line + fmt::format(" {}", command.seconds);
    case ScriptVerb::Frame:
        return line + fmt::format(" {}", command.frames);
    case ScriptVerb::Play:
        return line + " " + Word(command.text) + " " + Word(command.date);
    case ScriptVerb::Cvar:
        return line + " " + Word(command.text);
    case ScriptVerb::Screenshot:
        return line + " " + Word(command.text) + (command.windowOnly ? " window" : "");
    case ScriptVerb::Console:
    case ScriptVerb::Type:
    case ScriptVerb::Click:
        return line + " " + RestOfLine(command.text);
    case ScriptVerb::PlayNull:
    case ScriptVerb::Settle:
    case ScriptVerb::Show:
    case ScriptVerb::Clear:
    case ScriptVerb::Quit:
        return line;
    }
    return line;
}

bool Same(const ScriptCommand& a, const ScriptCommand& b)
{
    return a.verb == b.verb && a.seconds == b.seconds && a.frames == b.frames && a.text == b.text && a.date == b.date
        && a.windowOnly == b.windowOnly;
}

bool IsBlankOrComment(std::string_view line)
{
    std::size_t first = line.find_first_not_of(" \t\r\n");
    return first == std::string_view::npos || (line[first] == '#' && line.find_first_not_of(" \t") == first);
}

void CheckScriptReading(const std::string& bytes)
{
    const devhost::TextLimits limits = SmallTextLimits(static_cast<unsigned char>(bytes.empty() ? 0 : bytes[0]),
                                                           static_cast<unsigned char>(bytes.size() < 2 ? 0 : bytes[1]));
    std::istringstream script(bytes);
    std::string error;
    CheckTextLimits(bytes, limits, devhost::ReadTextStream(script, "<stdin>", limits, error), error);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string line(reinterpret_cast<const char*>(data), size);
    CheckScriptReading(line);
    ParsedLine parsed = ParseScriptLine(line);
    if (!parsed.command) {
        // Nothing to do is only right for a blank line or a comment; anything else says why.
        FUZZ_CHECK(parsed.error.empty() == IsBlankOrComment(line),
                   fmt::format("line {:?}: error {:?}", line, parsed.error));
        return 0;
    }
    FUZZ_CHECK(parsed.error.empty(), fmt::format("line {:?} gave a command and the error {:?}", line, parsed.error));

    const std::string written = ScriptLine(*parsed.command);
    ParsedLine again = ParseScriptLine(written);
    FUZZ_CHECK(again.command && Same(*again.command, *parsed.command),
               fmt::format("line {:?} written back as {:?} parses differently ({:?})", line, written, again.error));
    return 0;
}

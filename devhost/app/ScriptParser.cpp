#include "ScriptParser.h"

#include <charconv>
#include <cmath>
#include <map>
#include <vector>

#include <fmt/format.h>

#include "NearestName.h"

namespace {

constexpr int kMaxFrames = 100000;
constexpr double kMaxWaitSeconds = 24 * 60 * 60;

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

// Splits into words; a quoted word may be empty or hold blanks. Null on an unclosed quote.
std::optional<std::vector<std::string>> SplitWords(std::string_view text)
{
    std::vector<std::string> words;
    for (text = Trim(text); !text.empty(); text = Trim(text)) {
        if (text.front() == '"') {
            auto close = text.find('"', 1);
            if (close == std::string_view::npos)
                return std::nullopt;
            words.emplace_back(text.substr(1, close - 1));
            text.remove_prefix(close + 1);
            if (!text.empty() && text.front() != ' ' && text.front() != '\t')
                return std::nullopt; // "a"b is not two words nor one
            continue;
        }
        auto end = text.find_first_of(" \t\"");
        words.emplace_back(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end);
    }
    return words;
}

// The rest of the line as one text: one quoted word, or the line as it stands.
std::optional<std::string> RestAsText(std::string_view rest)
{
    rest = Trim(rest);
    if (rest.empty() || rest.front() != '"')
        return std::string(rest);
    auto words = SplitWords(rest);
    if (!words || words->size() != 1)
        return std::nullopt;
    return words->front();
}

ParsedLine Error(std::string message)
{
    return {std::nullopt, std::move(message)};
}

ParsedLine Command(ScriptCommand command)
{
    return {std::move(command), {}};
}

template <typename Number>
bool ParseNumber(const std::string& word, Number& number)
{
    auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), number);
    return error == std::errc() && end == word.data() + word.size();
}

// Each verb's arguments: the words after the verb's name, or the rest of the line as one text.
struct Arguments {
    std::string_view name;
    std::string_view rest;
    std::vector<std::string> words;
};

using ArgumentParser = ParsedLine (*)(const Arguments& arguments, ScriptCommand command);

ParsedLine Usage(const Arguments& arguments, std::string_view usage)
{
    return Error(fmt::format("{}: usage: {}", arguments.name, usage));
}

ParsedLine ParseNothing(const Arguments& arguments, ScriptCommand command)
{
    if (!arguments.words.empty())
        return Usage(arguments, arguments.name);
    return Command(command);
}

ParsedLine ParseWait(const Arguments& arguments, ScriptCommand command)
{
    if (arguments.words.size() != 1)
        return Usage(arguments, "wait SECONDS");
    const std::string& word = arguments.words.front();
    if (!ParseNumber(word, command.seconds) || !std::isfinite(command.seconds) || command.seconds < 0
        || command.seconds > kMaxWaitSeconds)
        return Error(fmt::format("wait: '{}' is not a number of seconds from 0 to {}", word, kMaxWaitSeconds));
    return Command(command);
}

ParsedLine ParsePlay(const Arguments& arguments, ScriptCommand command)
{
    if (arguments.words.size() != 2)
        return Usage(arguments, "play ID DATE");
    command.text = arguments.words[0];
    command.date = arguments.words[1];
    return Command(command);
}

ParsedLine ParseFrame(const Arguments& arguments, ScriptCommand command)
{
    if (arguments.words.size() > 1)
        return Usage(arguments, "frame [N]");
    if (arguments.words.empty())
        return Command(command);
    const std::string& word = arguments.words.front();
    if (!ParseNumber(word, command.frames) || command.frames < 1 || command.frames > kMaxFrames)
        return Error(fmt::format("frame: '{}' is not a frame count from 1 to {}", word, kMaxFrames));
    return Command(command);
}

ParsedLine ParseCvar(const Arguments& arguments, ScriptCommand command)
{
    if (arguments.words.size() != 1)
        return Usage(arguments, "cvar NAME");
    command.text = arguments.words.front();
    return Command(command);
}

ParsedLine ParseScreenshot(const Arguments& arguments, ScriptCommand command)
{
    const auto& words = arguments.words;
    if (words.empty() || words.size() > 2 || (words.size() == 2 && words[1] != "window"))
        return Usage(arguments, "screenshot FILE.png [window]");
    command.text = words.front();
    command.windowOnly = words.size() == 2;
    return Command(command);
}

// console, type, click: the rest of the line is the text.
ParsedLine ParseText(const Arguments& arguments, ScriptCommand command)
{
    auto text = RestAsText(arguments.rest);
    if (!text)
        return Error(fmt::format("{}: quote the whole text or none of it", arguments.name));
    // Typing nothing is fine when asked for with ""; a command or label must be there.
    if (text->empty() && (command.verb != ScriptVerb::Type || Trim(arguments.rest).empty()))
        return Error(fmt::format("{}: missing its text", arguments.name));
    command.text = std::move(*text);
    return Command(command);
}

struct VerbSyntax {
    ScriptVerb verb;
    ArgumentParser parse;
};

const std::map<std::string_view, VerbSyntax>& Verbs()
{
    static const std::map<std::string_view, VerbSyntax> verbs{
        {"wait", {ScriptVerb::Wait, &ParseWait}},
        {"play", {ScriptVerb::Play, &ParsePlay}},
        {"play-null", {ScriptVerb::PlayNull, &ParseNothing}},
        {"settle", {ScriptVerb::Settle, &ParseNothing}},
        {"frame", {ScriptVerb::Frame, &ParseFrame}},
        {"console", {ScriptVerb::Console, &ParseText}},
        {"show", {ScriptVerb::Show, &ParseNothing}},
        {"type", {ScriptVerb::Type, &ParseText}},
        {"clear", {ScriptVerb::Clear, &ParseNothing}},
        {"click", {ScriptVerb::Click, &ParseText}},
        {"cvar", {ScriptVerb::Cvar, &ParseCvar}},
        {"screenshot", {ScriptVerb::Screenshot, &ParseScreenshot}},
        {"quit", {ScriptVerb::Quit, &ParseNothing}},
    };
    return verbs;
}

// "unknown command 'pley' (did you mean 'play'?)".
ParsedLine UnknownVerb(std::string_view name)
{
    const std::string nearest = NearestScriptVerb(name);
    if (nearest.empty())
        return Error(fmt::format("unknown command '{}'", name));
    return Error(fmt::format("unknown command '{}' (did you mean '{}'?)", name, nearest));
}

} // namespace

std::string NearestScriptVerb(std::string_view word)
{
    std::vector<std::string_view> verbs;
    for (const auto& [verb, syntax] : Verbs())
        verbs.push_back(verb);
    return NearestName(word, verbs);
}

bool StartsWithScriptVerb(std::string_view line)
{
    line = Trim(line);
    return Verbs().count(line.substr(0, line.find_first_of(" \t"))) == 1;
}

ParsedLine ParseScriptLine(std::string_view line)
{
    line = Trim(line);
    if (line.empty() || line.front() == '#')
        return {};
    auto nameEnd = line.find_first_of(" \t");
    std::string_view name = line.substr(0, nameEnd);
    std::string_view rest = nameEnd == std::string_view::npos ? std::string_view() : line.substr(nameEnd);
    auto verb = Verbs().find(name);
    if (verb == Verbs().end())
        return UnknownVerb(name);
    auto words = SplitWords(rest);
    if (!words)
        return Error(fmt::format("{}: unclosed or misplaced quote", name));
    ScriptCommand command;
    command.verb = verb->second.verb;
    return verb->second.parse(Arguments{name, rest, std::move(*words)}, command);
}

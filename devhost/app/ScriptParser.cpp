#include "ScriptParser.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <map>
#include <vector>

#include <fmt/format.h>

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

// Edit distance (insertions, deletions, substitutions; an adjacent swap counts as one), so a
// typo such as "pley" or "setlte" can name the verb that was meant.
std::size_t Distance(std::string_view a, std::string_view b)
{
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j)
        d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t substitution = d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, substitution});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

std::string Lowercase(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

// "unknown command 'pley' (did you mean 'play'?)": the nearest verb within two edits, if any.
ParsedLine UnknownVerb(std::string_view name)
{
    constexpr std::size_t kMostEdits = 2;
    std::string_view nearest;
    std::size_t nearestDistance = kMostEdits + 1;
    for (const auto& [verb, syntax] : Verbs()) {
        std::size_t distance = Distance(Lowercase(name), verb);
        if (distance < nearestDistance) {
            nearest = verb;
            nearestDistance = distance;
        }
    }
    if (nearest.empty() || name.size() <= nearestDistance)
        return Error(fmt::format("unknown command '{}'", name));
    return Error(fmt::format("unknown command '{}' (did you mean '{}'?)", name, nearest));
}

} // namespace

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

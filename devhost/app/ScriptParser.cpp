#include "ScriptParser.h"

#include <charconv>
#include <cmath>
#include <map>
#include <vector>

#include <fmt/format.h>

namespace {

constexpr int kMaxFrames = 100000;

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
                return std::nullopt;  // "a"b is not two words nor one
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

const std::map<std::string_view, ScriptVerb>& Verbs()
{
    static const std::map<std::string_view, ScriptVerb> verbs{
        {"wait", ScriptVerb::Wait},   {"play", ScriptVerb::Play},       {"play-null", ScriptVerb::PlayNull},
        {"settle", ScriptVerb::Settle}, {"frame", ScriptVerb::Frame},   {"console", ScriptVerb::Console},
        {"show", ScriptVerb::Show},   {"type", ScriptVerb::Type},       {"click", ScriptVerb::Click},
        {"cvar", ScriptVerb::Cvar},   {"screenshot", ScriptVerb::Screenshot}, {"quit", ScriptVerb::Quit},
    };
    return verbs;
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

ParsedLine ParseArguments(std::string_view name, ScriptCommand command, std::string_view rest)
{
    auto words = SplitWords(rest);
    if (!words)
        return Error(fmt::format("{}: unclosed or misplaced quote", name));
    auto expect = [&](std::size_t count, const char* usage) -> std::optional<ParsedLine> {
        if (words->size() != count)
            return Error(fmt::format("{}: usage: {}", name, usage));
        return std::nullopt;
    };

    switch (command.verb) {
    case ScriptVerb::Wait:
        if (auto error = expect(1, "wait SECONDS"))
            return *error;
        if (!ParseNumber(words->front(), command.seconds) || !std::isfinite(command.seconds) || command.seconds < 0)
            return Error(fmt::format("wait: '{}' is not a number of seconds", words->front()));
        return Command(command);
    case ScriptVerb::Play:
        if (auto error = expect(2, "play ID DATE"))
            return *error;
        command.text = (*words)[0];
        command.date = (*words)[1];
        return Command(command);
    case ScriptVerb::Frame:
        if (words->size() > 1)
            return Error("frame: usage: frame [N]");
        if (!words->empty() && (!ParseNumber(words->front(), command.frames) || command.frames < 1
                                || command.frames > kMaxFrames))
            return Error(fmt::format("frame: '{}' is not a frame count from 1 to {}", words->front(), kMaxFrames));
        return Command(command);
    case ScriptVerb::Cvar:
        if (auto error = expect(1, "cvar NAME"))
            return *error;
        command.text = words->front();
        return Command(command);
    case ScriptVerb::Screenshot:
        if (words->empty() || words->size() > 2 || (words->size() == 2 && (*words)[1] != "window"))
            return Error("screenshot: usage: screenshot FILE.png [window]");
        command.text = words->front();
        command.windowOnly = words->size() == 2;
        return Command(command);
    case ScriptVerb::Console:
    case ScriptVerb::Type:
    case ScriptVerb::Click: {
        auto text = RestAsText(rest);
        if (!text)
            return Error(fmt::format("{}: quote the whole text or none of it", name));
        // Typing nothing is fine when asked for with ""; a command or label must be there.
        if (text->empty() && (command.verb != ScriptVerb::Type || Trim(rest).empty()))
            return Error(fmt::format("{}: missing its text", name));
        command.text = std::move(*text);
        return Command(command);
    }
    case ScriptVerb::PlayNull:
    case ScriptVerb::Settle:
    case ScriptVerb::Show:
    case ScriptVerb::Quit:
        if (auto error = expect(0, std::string(name).c_str()))
            return *error;
        return Command(command);
    }
    return Error(fmt::format("{}: not handled", name));
}

} // namespace

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
        return Error(fmt::format("unknown command '{}'", name));
    ScriptCommand command;
    command.verb = verb->second;
    return ParseArguments(name, command, rest);
}

#include "ConfigFile.h"

#include <algorithm>
#include <random>

#include <fmt/format.h>

#include "NewFile.h"

namespace devhost {
namespace {

// Names taken by chance (or by someone guessing them) are passed over this many times.
constexpr int kTemporaryNameAttempts = 16;

bool IsPlainWord(const std::string& text)
{
    if (text.empty())
        return false;
    for (unsigned char c : text) {
        if (c <= ' ' || c == '"' || c == '\\' || c == 0x7f)
            return false;
    }
    return true;
}

std::string Quote(const std::string& text)
{
    std::string quoted = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '\\':
            quoted += "\\\\";
            break;
        case '"':
            quoted += "\\\"";
            break;
        case '\n':
            quoted += "\\n";
            break;
        case '\r':
            quoted += "\\r";
            break;
        case '\t':
            quoted += "\\t";
            break;
        default:
            if (c < ' ' || c == 0x7f)
                quoted += fmt::format("\\x{:02x}", c);
            else
                quoted += static_cast<char>(c);
        }
    }
    return quoted + '"';
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void SkipBlanks(std::string_view& rest)
{
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t'))
        rest.remove_prefix(1);
}

// Reads one quoted token from the front of rest (which starts at the opening quote).
std::optional<std::string> TakeQuoted(std::string_view& rest)
{
    std::string text;
    std::size_t i = 1;
    while (i < rest.size() && rest[i] != '"') {
        char c = rest[i++];
        if (c != '\\') {
            text += c;
            continue;
        }
        if (i >= rest.size())
            return std::nullopt;
        char escape = rest[i++];
        switch (escape) {
        case '\\':
            text += '\\';
            break;
        case '"':
            text += '"';
            break;
        case 'n':
            text += '\n';
            break;
        case 'r':
            text += '\r';
            break;
        case 't':
            text += '\t';
            break;
        case 'x': {
            if (i + 2 > rest.size() || HexDigit(rest[i]) < 0 || HexDigit(rest[i + 1]) < 0)
                return std::nullopt;
            text += static_cast<char>(HexDigit(rest[i]) * 16 + HexDigit(rest[i + 1]));
            i += 2;
            break;
        }
        default:
            return std::nullopt;
        }
    }
    if (i >= rest.size())
        return std::nullopt; // no closing quote
    rest.remove_prefix(i + 1);
    return text;
}

std::optional<std::string> TakeToken(std::string_view& rest)
{
    SkipBlanks(rest);
    if (rest.empty())
        return std::nullopt;
    if (rest.front() == '"')
        return TakeQuoted(rest);
    std::size_t end = 0;
    while (end < rest.size() && rest[end] != ' ' && rest[end] != '\t' && rest[end] != '"')
        ++end;
    std::string word(rest.substr(0, end));
    rest.remove_prefix(end);
    return word;
}

} // namespace

std::string FormatConfigLine(const std::string& name, const std::string& value)
{
    return (IsPlainWord(name) ? name : Quote(name)) + ' ' + Quote(value);
}

std::optional<std::pair<std::string, std::string>> ParseConfigLine(std::string_view line)
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1); // a file edited on Windows
    auto name = TakeToken(line);
    if (!name || name->empty())
        return std::nullopt;
    SkipBlanks(line);
    if (line.empty() || line.front() != '"')
        return std::nullopt;
    auto value = TakeQuoted(line);
    SkipBlanks(line);
    if (!value || !line.empty())
        return std::nullopt;
    return std::make_pair(std::move(*name), std::move(*value));
}

ConfigReadResult ReadConfigFile(const std::filesystem::path& file, const TextLimits& limits)
{
    ConfigReadResult result;
    std::error_code unknown; // e.g. a folder on the way that cannot be searched: the read says why
    if (!std::filesystem::exists(file, unknown) && !unknown)
        return result;
    std::optional<std::string> text = ReadTextFile(file, limits, result.error);
    if (!text)
        return result;
    std::string_view rest = *text;
    for (int number = 1; !rest.empty(); ++number) {
        std::string_view line = rest.substr(0, rest.find('\n'));
        rest.remove_prefix(std::min(rest.size(), line.size() + 1));
        if (line.find_first_not_of(" \t\r") == std::string_view::npos)
            continue;
        if (auto entry = ParseConfigLine(line))
            result.values[entry->first] = entry->second;
        else
            result.malformedLines.push_back(number);
    }
    return result;
}

std::error_code WriteConfigFile(const std::filesystem::path& file, const std::map<std::string, std::string>& values)
{
    std::string text;
    for (const auto& [name, value] : values)
        text += FormatConfigLine(name, value) + '\n';
    // A name of its own each time: whatever lies under a name fixed in advance is never opened.
    std::random_device seed;
    std::error_code error = std::make_error_code(std::errc::file_exists);
    std::filesystem::path temporary;
    for (int attempt = 0; attempt < kTemporaryNameAttempts && error == std::errc::file_exists; ++attempt) {
        temporary = file;
        temporary += fmt::format(".{:08x}.tmp", seed());
        error = WriteNewFile(temporary, text);
    }
    if (error)
        return error;
    std::filesystem::rename(temporary, file, error);
    if (error) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
    }
    return error;
}

} // namespace devhost

// POSIX: the Documents folder as desktop Linux names it, through the XDG user directories.
#include "platform/DocumentsFolder.h"

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

namespace platform {

namespace {

std::optional<std::filesystem::path> AbsoluteFromEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/')
        return std::nullopt;
    return std::filesystem::path(value);
}

// The value of a user-dirs.dirs line such as XDG_DOCUMENTS_DIR="$HOME/Papers": quotes
// dropped, backslash escapes resolved. Empty when the line is not of that form.
std::string QuotedValue(std::string_view text)
{
    if (text.size() < 2 || text.front() != '"' || text.back() != '"')
        return {};
    std::string value;
    for (std::size_t at = 1; at + 1 < text.size(); ++at) {
        if (text[at] == '\\' && at + 2 < text.size())
            ++at;
        value += text[at];
    }
    return value;
}

// XDG_DOCUMENTS_DIR from user-dirs.dirs. Only "$HOME/..." and absolute values are valid;
// a value of just $HOME means the user turned the folder off.
std::optional<std::filesystem::path> DocumentsFromUserDirs(const std::optional<std::filesystem::path>& home)
{
    std::optional<std::filesystem::path> config = AbsoluteFromEnvironment("XDG_CONFIG_HOME");
    if (!config && home)
        config = *home / ".config";
    if (!config)
        return std::nullopt;

    std::ifstream file(*config / "user-dirs.dirs");
    const std::string key = "XDG_DOCUMENTS_DIR=";
    for (std::string line; std::getline(file, line);) {
        const std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, key.size(), key) != 0)
            continue;
        std::string value = QuotedValue(std::string_view(line).substr(start + key.size()));
        if (value.rfind("$HOME/", 0) == 0 && home && value.size() > 6)
            return *home / value.substr(6);
        if (value.size() > 1 && value[0] == '/')
            return std::filesystem::path(value);
    }
    return std::nullopt;
}

} // namespace

std::error_code DocumentsFolder(std::filesystem::path& folder)
{
    const std::optional<std::filesystem::path> home = AbsoluteFromEnvironment("HOME");
    if (std::optional<std::filesystem::path> documents = DocumentsFromUserDirs(home)) {
        folder = std::move(*documents);
        return {};
    }
    if (!home)
        return std::make_error_code(std::errc::no_such_file_or_directory);
    folder = *home / "Documents";
    return {};
}

} // namespace platform

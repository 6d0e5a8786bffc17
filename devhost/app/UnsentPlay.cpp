#include "UnsentPlay.h"

#include <filesystem>
#include <system_error>

#include <fmt/format.h>

#include "DemosFolderVariable.h"

namespace {

std::string Reason(const devhost::Host& host, const std::string& id, const std::string& date)
{
    if (id.find("_fixed") != std::string::npos)
        return "the identifier contains \"_fixed\": a repaired replay is never sent again";
    auto folder = host.Variable(kDemosFolderVariable);
    if (!folder || folder->value.empty())
        return fmt::format("the plugin has no replays folder ({} is empty)", kDemosFolderVariable);
    const std::string fileName = id + ".replay";
    // The plugin looks up one entry of the folder by its exact name: a separator of either
    // platform names none.
    if (id.find_first_of("/\\") != std::string::npos)
        return fmt::format("the identifier holds a path separator, so {} names no file in the replays folder",
                           fileName);
    const std::filesystem::path file = std::filesystem::path(folder->value) / fileName;
    std::error_code error;
    if (!std::filesystem::exists(file, error))
        return fmt::format("{} is not in the replays folder {}", fileName, folder->value);
    if (!std::filesystem::is_regular_file(file, error))
        return fmt::format("{} in the replays folder {} is not a regular file", fileName, folder->value);
    return fmt::format("the plugin does not accept the date '{}'", date);
}

} // namespace

std::string ExplainUnsentPlay(const devhost::Host& host, const std::string& id, const std::string& date)
{
    return fmt::format("play {} {}: no request was sent ({})", id, date, Reason(host, id, date));
}

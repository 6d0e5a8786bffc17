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
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::path(folder->value) / fileName, error))
        return fmt::format("{} is not in the replays folder {}", fileName, folder->value);
    return fmt::format("the plugin does not accept the date '{}'", date);
}

} // namespace

std::string ExplainUnsentPlay(const devhost::Host& host, const std::string& id, const std::string& date)
{
    return fmt::format("play {} {}: no request was sent ({})", id, date, Reason(host, id, date));
}

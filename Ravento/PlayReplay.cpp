// The play-replay hook: picks the replays worth repairing, finds the replay's file with one
// exact-name lookup and hands the host one upload request for it.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>

#include <fmt/format.h>

#include "CallbackBoundary.h"
#include "FileSystem.h"
#include "Ravento.h"
#include "orvane/HttpWrapper.h"
#include "orvane/ReplayWrapper.h"
#include "platform/CodePage.h"
#include "platform/ReplayFiles.h"

using namespace plugin;

namespace {

const std::string kRepairServiceUrl = std::string("https://") + RAVENTO_SERVICE_HOST + "/api/ravento";

// Replays of 2025 are sent unless both the month is at most April and the day at most the 23rd
// (month and day are compared each on its own, not as a calendar date).
bool IsInRepairWindow(const std::string& replayDate)
{
    int year = 0, month = 0, day = 0;
    std::sscanf(replayDate.c_str(), "%4d-%2d-%2d", &year, &month, &day);
    if (year != 2025)
        return false;
    return !(month <= 4 && day <= 23);
}

// The path of the replay file in folder named exactly "<replayId>.replay", found without listing
// the folder: players keep thousands of replays and this runs on the game thread. Throws
// std::filesystem::filesystem_error when folder cannot be looked into.
std::optional<std::filesystem::path> FindReplayFile(const std::filesystem::path& folder, const std::string& replayId)
{
    // A name the code page cannot express is no entry's name; the empty path matches nothing.
    std::filesystem::path name;
    if (platform::PathFromCodePageText(fmt::format("{}.replay", replayId), name))
        name.clear();

    bool found = false;
    if (std::error_code error = platform::FindExactEntry(folder, name, found))
        throw std::filesystem::filesystem_error("replay lookup", folder, error);
    if (!found)
        return std::nullopt;
    return folder / name;
}

} // namespace

void Ravento::OnPlayReplay(ActorWrapper, void* params, std::string)
{
    if (params == nullptr)
        return;
    std::uintptr_t replayAddress = 0;
    std::memcpy(&replayAddress, params, sizeof replayAddress);
    ReplayWrapper replay(replayAddress);
    if (!replay)
        return;
    std::string replayId = replay.GetId().ToString();
    bool inWindow = IsInRepairWindow(replay.GetDate().ToString());
    if (replayId.find("_fixed") != std::string::npos || !inWindow)
        return;

    std::optional<std::filesystem::path> replayPath = FindReplayFile(demosFolder.Get(), replayId);
    if (!replayPath)
        return;

    CurlRequest request;
    request.url = kRepairServiceUrl;
    request.formFields.push_back({FormField::kFile, CodePageText(*replayPath), "file"});

    // The host drops this callable before it releases the plugin, so a plain pointer is safe.
    Ravento* plugin = this;
    HttpWrapper::SendCurlRequest(
        std::move(request), [plugin, replayPath = *replayPath, replayId](int status, char* data, std::size_t size) {
            ContainErrors("OnRepairReply", [&] { plugin->OnRepairReply(replayPath, replayId, status, data, size); });
        });
}

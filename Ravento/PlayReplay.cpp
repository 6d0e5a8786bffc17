// The play-replay hook: picks the replays worth repairing, finds the replay's file with one
// exact-name lookup and hands the host one upload request for it.
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>

#include "CallbackBoundary.h"
#include "Ravento.h"
#include "ReplayDate.h"
#include "orvane/HttpWrapper.h"
#include "orvane/ReplayWrapper.h"
#include "platform/CodePage.h"
#include "platform/ReplayFiles.h"

using namespace plugin;

namespace {

constexpr char kRoutine[] = "OnPlayReplay";

const std::string kRepairServiceUrl = std::string("https://") + RAVENTO_SERVICE_HOST + "/api/ravento";

// The path of the replay file in folder named exactly "<replayId>.replay", found without listing
// the folder: players keep thousands of replays and this runs on the game thread. replayPath
// stays empty when there is no such file; the lookup's error when folder cannot be looked into.
std::error_code FindReplayFile(const std::filesystem::path& folder, const std::string& replayId,
                               std::optional<std::filesystem::path>& replayPath)
{
    // A name the code page cannot express is no entry's name; the empty path matches nothing.
    std::filesystem::path name;
    if (platform::PathFromCodePageText(replayId + ".replay", name))
        name.clear();

    bool found = false;
    if (std::error_code error = platform::ReplayFiles().FindExactEntry(folder, name, found))
        return error;
    if (found)
        replayPath = folder / name;
    return {};
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
    if (replayId.find("_fixed") != std::string::npos || !IsInRepairWindow(replay.GetDate().ToString()))
        return;

    std::shared_ptr<const std::filesystem::path> replaysFolder = demosFolder.Share();
    std::optional<std::filesystem::path> replayPath;
    if (std::error_code error = FindReplayFile(*replaysFolder, replayId, replayPath))
        return LogFailedStep(kRoutine, "replay lookup", error, *replaysFolder);
    if (!replayPath)
        return;
    // The host reads the file by this name: one it could not open is no upload.
    std::string uploadPath;
    if (std::error_code error = platform::CodePageTextFromPath(*replayPath, uploadPath))
        return LogFailedStep(kRoutine, "code page conversion", error, *replayPath);

    CurlRequest request;
    request.url = kRepairServiceUrl;
    request.formFields.push_back({FormField::kFile, std::move(uploadPath), "file"});

    // Listed before the request goes out: its reply may come on another thread at once.
    const RepairHistory::Upload upload = repairs.Sent(replayId);

    // The host drops this callable before it releases the plugin, so a plain pointer is safe.
    // The reply acts on the folder the replay was found in, shared rather than copied; the path and
    // the identifier move in: a path's copy would copy each of its components, on the game thread.
    Ravento* plugin = this;
    HttpWrapper::SendCurlRequest(std::move(request), [plugin, replaysFolder = std::move(replaysFolder),
                                                      replayFile = std::move(*replayPath),
                                                      replayId = std::move(replayId),
                                                      upload](int status, char* data, std::size_t size) {
        ContainErrors("OnRepairReply", [&] {
            plugin->OnRepairReply(*replaysFolder, replayFile, replayId, status, data, size, upload);
        });
    });
}

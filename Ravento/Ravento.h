// The plugin object: joins the host's plugin base with the plugin's window, and owns the two
// pieces of state that the host's threads share.
#pragma once

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <string>

#include "PluginName.h"
#include "RepairHistory.h"
#include "ReplyResult.h"
#include "SharedPath.h"
#include "orvane/ActorWrapper.h"
#include "orvane/OrvanePlugin.h"
#include "window/PluginWindowBase.h"

// The file that declares the plugin, recorded in the module's registration record. The
// constant is defined here so that __FILE__ names this header, not the file that uses it.
inline constexpr char kDeclaringFile[] = __FILE__;
#define RAVENTO_DECLARING_FILE kDeclaringFile

// The console variable that keeps the replays folder across runs.
inline constexpr char kDemosFolderVariable[] = "Ravento_DemosFolder";
// The game event after which a replay starts playing.
inline constexpr char kPlayReplayEvent[] = "Function TAGame.ReplayManager_TA.PlayReplay";

class Ravento : public Orvane::Plugin::OrvanePlugin, public PluginWindowBase {
public:
    Ravento();
    ~Ravento() override;

    void onLoad() override;

    void InitDemosFolder();
    void OnPlayReplay(ActorWrapper caller, void* params, std::string eventName);
    void OnRepairReply(const std::filesystem::path& replaysFolder, const std::filesystem::path& replayPath,
                       const std::string& replayId, int status, const char* data, std::size_t size,
                       plugin::RepairHistory::Upload upload = plugin::RepairHistory::kUntracked);
    void RenderWindow() override;

    // Written by the reply thread, read by the UI thread.
    std::atomic<bool> rateLimitHit{false};
    // Written by the game and UI threads, read by the game and reply threads.
    plugin::SharedPath demosFolder;
    // Whether this load has settled what a crash left in the replays folder (the reply fuzzer
    // clears it: each of its inputs is the first reply of a load).
    std::atomic<bool> leftoversSettled{false};
    // The uploads of this object and their outcomes: sent on the game thread, finished on the
    // reply thread, shown by the settings window.
    plugin::RepairHistory repairs;

private:
    void Load();
    void SettleLeftoversOnce(const std::filesystem::path& replaysFolder);
    // OnRepairReply's work: what the reply came to.
    plugin::ReplyResult ActOnRepairReply(const std::filesystem::path& replaysFolder,
                                         const std::filesystem::path& replayPath, const std::string& replayId,
                                         int status, const char* data, std::size_t size);

    // The settings window's copy of repairs (UI thread only).
    plugin::RepairSnapshot shownRepairs;
};

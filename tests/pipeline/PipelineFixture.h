// A loaded plugin whose replays folder is a temporary game folder:
//   <temp>/TAGame/Demos and its sibling <temp>/TAGame/OV_Ravento_BackupReplays.
// Requests go to the given transport, by default a RecordingTransport the test answers.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ReplayReplacement.h"
#include "orvane/host/RecordingTransport.h"
#include "support/PluginHost.h"
#include "support/TempDir.h"

namespace testing_support {

class PipelineFixture {
public:
    explicit PipelineFixture(std::unique_ptr<devhost::HttpTransport> transport = nullptr);

    Ravento& Plugin() { return host->Plugin(); }
    devhost::Host& Host() { return host->Host(); }
    // The recording transport; only valid when no other transport was given.
    devhost::RecordingTransport& Recorder() { return *recorder; }

    // Writes Demos/<id>.replay and returns its path.
    std::filesystem::path AddReplay(const std::string& id, const std::string& content = "original replay");
    // Plays a replay with this id and a date inside the repair window.
    void Play(const std::string& id, const std::string& date = "2025-06-01 12:00");
    // Answers the oldest request and waits until its reply has been handled.
    void Answer(int status, const std::string& body = {});

    std::vector<std::string> Log() const { return host->Log(); }
    std::vector<std::string> Commands() const { return host->Commands(); }
    // The host's own lines (a plugin exception that escaped a callback shows up here).
    std::vector<std::string> HostLines() const;
    // The second line of the settings window's newest finished row, as the player reads it
    // ("sending" while none has finished).
    std::string NewestOutcome();

    // Unloads the plugin and loads a fresh one, as a restarted game would: a new recording
    // transport, and no replays folder until discovery or the panel sets one.
    void Reload();

    TempDir dir;
    const std::filesystem::path demos = dir.MakeFolder("TAGame/Demos");
    const std::filesystem::path backups = dir.MakeFolder(std::filesystem::path("TAGame") / plugin::kBackupFolderName);

private:
    struct HostLineSink {
        mutable std::mutex mutex;
        std::vector<std::string> lines;
    };
    devhost::HostOptions Options(std::unique_ptr<devhost::HttpTransport> transport);

    devhost::RecordingTransport* recorder = nullptr;
    std::shared_ptr<HostLineSink> hostLines = std::make_shared<HostLineSink>();
    std::unique_ptr<PluginHost> host;
};

// The names in folder, sorted.
std::vector<std::string> Names(const std::filesystem::path& folder);
// The whole file, byte for byte; "<missing>" when it cannot be read.
std::string ReadBytes(const std::filesystem::path& file);

} // namespace testing_support

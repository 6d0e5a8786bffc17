// A ReplayFileSystem double for the model test: the platform's own operations, except for one
// planned fault per reply, or a crash after a chosen number of operations (after which nothing
// it is asked to do has any effect, as if the process had died).
#pragma once

#include <filesystem>
#include <string_view>
#include <system_error>

#include "platform/ReplayFiles.h"

namespace model_test {

enum class Fault {
    None,
    CreateDenied, // the temporary file cannot be created (5)
    DiskFullMidWrite, // half the bytes are written, then 112
    FlushFails, // the close flushes and closes, then reports 112
    MoveDenied, // the first move of the reply is refused (5)
    FileLocked, // the first move of the reply finds the file in use (32)
    MarkWholeDenied, // the rename that marks the written file whole is refused (5)
    RenameDenied, // the rename into place is refused (5)
    OtherVolume, // the backup folder is on another volume: the old file's move must copy (17)
    BackupFolderDenied, // a missing backup folder cannot be made (5)
};
inline constexpr int kFaultKinds = 10;

class FaultyReplayFiles : public platform::ReplayFileSystem {
public:
    FaultyReplayFiles(); // installs itself
    ~FaultyReplayFiles() override;
    FaultyReplayFiles(const FaultyReplayFiles&) = delete;
    FaultyReplayFiles& operator=(const FaultyReplayFiles&) = delete;

    // Plans the next reply: a fault, or a crash after crashAfter operations (negative: none).
    void Plan(Fault fault, int crashAfter = -1);
    bool FaultFired() const { return faultFired; }
    bool Crashed() const { return crashed; }
    // A fresh process: no crash, no plan.
    void Restart() { Plan(Fault::None); }

    std::error_code MoveWithoutReplace(const std::filesystem::path& from, const std::filesystem::path& to) override;
    std::error_code CreateNewFile(const std::filesystem::path& file, platform::FileHandle& handle) override;
    std::error_code Write(platform::FileHandle handle, std::string_view bytes) override;
    std::error_code Close(platform::FileHandle handle) override;
    std::error_code RenameReplacing(const std::filesystem::path& from, const std::filesystem::path& to) override;
    std::error_code RemoveFile(const std::filesystem::path& file) override;
    std::error_code CopyToNewFile(const std::filesystem::path& from, const std::filesystem::path& to) override;
    std::error_code CreateFolder(const std::filesystem::path& folder) override;

private:
    // Counts one operation; false when the process is (now) dead and it must do nothing.
    bool Alive();
    // True, once, when the planned fault is this one.
    bool Fires(Fault candidate);

    Fault planned = Fault::None;
    int crashAfter = -1;
    int operations = 0;
    int moves = 0;
    int renames = 0;
    bool faultFired = false;
    bool crashed = false;
};

} // namespace model_test

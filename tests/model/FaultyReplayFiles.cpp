#include "model/FaultyReplayFiles.h"

namespace model_test {
namespace {

using platform::FileError;
constexpr FileError kAccessDenied = FileError::AccessDenied;
constexpr FileError kSharingViolation = FileError::SharingViolation;
constexpr FileError kDiskFull = FileError::DiskFull;

std::error_code Error(FileError which)
{
    return platform::ReplayFileError(which);
}

} // namespace

FaultyReplayFiles::FaultyReplayFiles()
{
    platform::InstallReplayFileSystem(this);
}

FaultyReplayFiles::~FaultyReplayFiles()
{
    platform::InstallReplayFileSystem(nullptr);
}

void FaultyReplayFiles::Plan(Fault fault, int crashAfterOperations)
{
    planned = fault;
    crashAfter = crashAfterOperations;
    operations = 0;
    moves = 0;
    renames = 0;
    faultFired = false;
    crashed = false;
}

bool FaultyReplayFiles::Alive()
{
    if (crashAfter >= 0 && operations++ >= crashAfter)
        crashed = true;
    return !crashed;
}

bool FaultyReplayFiles::Fires(Fault candidate)
{
    if (planned != candidate || faultFired)
        return false;
    faultFired = true;
    return true;
}

std::error_code FaultyReplayFiles::MoveWithoutReplace(const std::filesystem::path& from,
                                                      const std::filesystem::path& to)
{
    if (!Alive())
        return Error(kAccessDenied);
    if (++moves == 1 && Fires(Fault::MoveDenied))
        return Error(kAccessDenied);
    if (moves == 1 && Fires(Fault::FileLocked))
        return Error(kSharingViolation);
    // The second move of a 200 takes the old file to the backup folder, whichever order.
    if (moves == 2 && Fires(Fault::OtherVolume))
        return Error(FileError::NotSameDevice);
    return ReplayFileSystem::MoveWithoutReplace(from, to);
}

std::error_code FaultyReplayFiles::CreateNewFile(const std::filesystem::path& file, platform::FileHandle& handle)
{
    if (!Alive())
        return Error(kAccessDenied);
    if (Fires(Fault::CreateDenied))
        return Error(kAccessDenied);
    return ReplayFileSystem::CreateNewFile(file, handle);
}

std::error_code FaultyReplayFiles::Write(platform::FileHandle handle, std::string_view bytes)
{
    // The write a crash or a full disk interrupts still stores its first half.
    const bool diesNow = !crashed && !Alive();
    if (crashed && !diesNow)
        return Error(kDiskFull);
    if (diesNow || Fires(Fault::DiskFullMidWrite)) {
        ReplayFileSystem::Write(handle, bytes.substr(0, bytes.size() / 2));
        return Error(kDiskFull);
    }
    return ReplayFileSystem::Write(handle, bytes);
}

std::error_code FaultyReplayFiles::Close(platform::FileHandle handle)
{
    // A dead process's handles close with it; the release changes nothing a listing shows.
    std::error_code error = ReplayFileSystem::Close(handle);
    if (crashed || !Alive() || Fires(Fault::FlushFails))
        return Error(kDiskFull);
    return error;
}

std::error_code FaultyReplayFiles::RenameReplacing(const std::filesystem::path& from, const std::filesystem::path& to)
{
    if (!Alive())
        return Error(kAccessDenied);
    ++renames;
    if ((renames == 1 && Fires(Fault::MarkWholeDenied)) || (renames == 2 && Fires(Fault::RenameDenied)))
        return Error(kAccessDenied);
    return ReplayFileSystem::RenameReplacing(from, to);
}

std::error_code FaultyReplayFiles::RemoveFile(const std::filesystem::path& file)
{
    if (!Alive())
        return Error(kAccessDenied);
    return ReplayFileSystem::RemoveFile(file);
}

std::error_code FaultyReplayFiles::CopyToNewFile(const std::filesystem::path& from, const std::filesystem::path& to)
{
    if (!Alive())
        return Error(kAccessDenied);
    return ReplayFileSystem::CopyToNewFile(from, to);
}

std::error_code FaultyReplayFiles::CreateFolder(const std::filesystem::path& folder)
{
    if (!Alive())
        return Error(kAccessDenied);
    std::error_code error = ReplayFileSystem::CreateFolder(folder);
    // Only a folder that was really missing is refused, so the fault changes what a player sees.
    if (!error && Fires(Fault::BackupFolderDenied)) {
        std::filesystem::remove(folder);
        return Error(kAccessDenied);
    }
    return error;
}

} // namespace model_test

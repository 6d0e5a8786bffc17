#include "WholeFileWrite.h"

#include <atomic>
#include <cstdint>
#include <random>

#include <fmt/format.h>

#include "platform/ReplayFiles.h"

namespace {

// Unique within the process by the counter, across processes by its random start.
std::uint64_t UniqueNumber()
{
    static std::atomic<std::uint64_t> next{(std::uint64_t{std::random_device{}()} << 32) | std::random_device{}()};
    return next.fetch_add(1);
}

std::filesystem::path TemporaryNameBeside(const std::filesystem::path& target)
{
    std::filesystem::path temporary = target;
    temporary += fmt::format(".{:016x}.tmp", UniqueNumber());
    return temporary;
}

} // namespace

WholeFileWrite WriteWholeFile(const std::filesystem::path& target, std::string_view bytes)
{
    using Step = WholeFileWrite::Step;
    platform::ReplayFileSystem& files = platform::ReplayFiles();
    std::filesystem::path temporary = TemporaryNameBeside(target);

    platform::FileHandle handle = 0;
    if (std::error_code error = files.CreateNewFile(temporary, handle))
        return {Step::Create, error};

    WholeFileWrite result;
    if (std::error_code error = files.Write(handle, bytes))
        result = {Step::Write, error};
    std::error_code closeError = files.Close(handle);
    if (closeError && result.failedAt == Step::Done)
        result = {Step::Close, closeError};
    if (result.failedAt == Step::Done) {
        if (std::error_code error = files.RenameReplacing(temporary, target))
            result = {Step::Rename, error};
    }
    if (result.failedAt != Step::Done)
        files.RemoveFile(temporary);
    return result;
}

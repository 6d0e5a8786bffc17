#include "WholeFileWrite.h"

#include "platform/ReplayFiles.h"

WholeFileWrite WriteWholeFile(const std::filesystem::path& writing, const std::filesystem::path& whole,
                              std::string_view bytes)
{
    using Step = WholeFileWrite::Step;
    platform::ReplayFileSystem& files = platform::ReplayFiles();

    platform::FileHandle handle = 0;
    if (std::error_code error = files.CreateNewFile(writing, handle))
        return {Step::Create, error};

    WholeFileWrite result;
    if (std::error_code error = files.Write(handle, bytes))
        result = {Step::Write, error};
    std::error_code closeError = files.Close(handle);
    if (closeError && result.failedAt == Step::Done)
        result = {Step::Close, closeError};
    if (result.failedAt == Step::Done) {
        if (std::error_code error = files.RenameReplacing(writing, whole))
            result = {Step::Rename, error};
    }
    if (result.failedAt != Step::Done)
        files.RemoveFile(writing);
    return result;
}

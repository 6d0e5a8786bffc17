#include "support/FaultyFiles.h"

#include <algorithm>

namespace testing_support {

namespace {

bool IsChange(FileCall call)
{
    return call >= FileCall::Move && call <= FileCall::Remove;
}

} // namespace

const char* CallName(FileCall call)
{
    static const char* const names[] = {"any change", "move",   "copy",   "mkdir", "create", "write",
                                        "close",      "rename", "remove", "find",  "query",  "hold"};
    return names[static_cast<int>(call)];
}

FaultyFiles::FaultyFiles()
{
    platform::InstallReplayFileSystem(this);
}

FaultyFiles::~FaultyFiles()
{
    platform::InstallReplayFileSystem(nullptr);
}

void FaultyFiles::Fail(FileCall call, int number, int windowsCode, std::size_t bytesBeforeFailing)
{
    plans.push_back({call, number, windowsCode, bytesBeforeFailing});
}

void FaultyFiles::CrashAfter(int changes)
{
    crashAfter = changes;
}

void FaultyFiles::Reset()
{
    plans.clear();
    std::fill(std::begin(counts), std::end(counts), 0);
    crashAfter = -1;
    crashed = false;
    failedCall = "";
}

FaultyFiles::Verdict FaultyFiles::Start(FileCall call, const std::filesystem::path& file,
                                        const std::filesystem::path& target)
{
    const int number = ++counts[static_cast<int>(call)];
    const int changes = IsChange(call) ? ++counts[static_cast<int>(FileCall::AnyChange)] : 0;
    current = {call, number, file, target};
    if (IsChange(call) && crashAfter >= 0 && changes > crashAfter) {
        // Only the write the crash interrupts stores anything: half of its bytes.
        const bool interrupted = !crashed && call == FileCall::Write;
        crashed = true;
        return {platform::ReplayFileError(platform::FileError::AccessDenied), interrupted ? std::size_t(-1) : 0, true};
    }
    for (const Planned& plan : plans) {
        const bool struck = plan.call == call
            ? plan.number == number
            : plan.call == FileCall::AnyChange && IsChange(call) && plan.number == changes;
        if (struck) {
            failedCall = CallName(call);
            return {platform::ReplayFileError(plan.windowsCode), plan.bytesBeforeFailing, true};
        }
    }
    if (before) {
        if (std::error_code error = before(current))
            return {error, 0, true};
    }
    return {};
}

std::error_code FaultyFiles::Finish(std::error_code error)
{
    if (!error && after)
        after(current);
    return error;
}

std::error_code FaultyFiles::FindExactEntry(const std::filesystem::path& folder, const std::filesystem::path& name,
                                            bool& found)
{
    found = false;
    const Verdict verdict = Start(FileCall::Find, folder / name);
    return verdict.fails ? verdict.error : Finish(ReplayFileSystem::FindExactEntry(folder, name, found));
}

std::error_code FaultyFiles::QueryEntryKind(const std::filesystem::path& path, platform::EntryKind& kind)
{
    const Verdict verdict = Start(FileCall::Query, path);
    return verdict.fails ? verdict.error : Finish(ReplayFileSystem::QueryEntryKind(path, kind));
}

std::error_code FaultyFiles::MoveWithoutReplace(const std::filesystem::path& from, const std::filesystem::path& to)
{
    const Verdict verdict = Start(FileCall::Move, from, to);
    return verdict.fails ? verdict.error : Finish(ReplayFileSystem::MoveWithoutReplace(from, to));
}

std::error_code FaultyFiles::CopyToNewFile(const std::filesystem::path& from, const std::filesystem::path& to)
{
    const Verdict verdict = Start(FileCall::Copy, from, to);
    return verdict.fails ? verdict.error : Finish(ReplayFileSystem::CopyToNewFile(from, to));
}

std::error_code FaultyFiles::CreateFolder(const std::filesystem::path& folder)
{
    const Verdict verdict = Start(FileCall::CreateFolder, folder);
    return verdict.fails ? verdict.error : Finish(ReplayFileSystem::CreateFolder(folder));
}

std::error_code FaultyFiles::CreateNewFile(const std::filesystem::path& file, platform::FileHandle& handle)
{
    const Verdict verdict = Start(FileCall::Create, file);
    return verdict.fails ? verdict.error : Finish(ReplayFileSystem::CreateNewFile(file, handle));
}

std::error_code FaultyFiles::Write(platform::FileHandle handle, std::string_view bytes)
{
    const Verdict verdict = Start(FileCall::Write, {});
    if (!verdict.fails)
        return Finish(ReplayFileSystem::Write(handle, bytes));
    const std::size_t stored =
        verdict.bytesBeforeFailing == std::size_t(-1) ? bytes.size() / 2 : verdict.bytesBeforeFailing;
    if (stored > 0)
        ReplayFileSystem::Write(handle, bytes.substr(0, std::min(stored, bytes.size())));
    return verdict.error;
}

std::error_code FaultyFiles::Close(platform::FileHandle handle)
{
    const Verdict verdict = Start(FileCall::Close, {});
    std::error_code closed = ReplayFileSystem::Close(handle); // released even when it "fails"
    return verdict.fails ? verdict.error : Finish(closed);
}

std::error_code FaultyFiles::RenameReplacing(const std::filesystem::path& from, const std::filesystem::path& to)
{
    const Verdict verdict = Start(FileCall::Rename, from, to);
    return verdict.fails ? verdict.error : Finish(ReplayFileSystem::RenameReplacing(from, to));
}

std::error_code FaultyFiles::RemoveFile(const std::filesystem::path& file)
{
    const Verdict verdict = Start(FileCall::Remove, file);
    return verdict.fails ? verdict.error : Finish(ReplayFileSystem::RemoveFile(file));
}

std::error_code FaultyFiles::Hold(const std::filesystem::path& file, bool create, platform::FileHandle& held)
{
    const Verdict verdict = Start(FileCall::Hold, file);
    return verdict.fails ? verdict.error : Finish(ReplayFileSystem::Hold(file, create, held));
}

} // namespace testing_support

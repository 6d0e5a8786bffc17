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
    static const char* const names[] = {"any change", "move",   "copy", "mkdir", "create", "write", "close",
                                        "rename",     "remove", "find", "query", "list",   "hold"};
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
    std::lock_guard lock(mutex);
    plans.push_back({call, number, windowsCode, bytesBeforeFailing});
}

void FaultyFiles::CrashAfter(int changes)
{
    std::lock_guard lock(mutex);
    crashAfter = changes;
}

void FaultyFiles::Reset()
{
    std::lock_guard lock(mutex);
    plans.clear();
    std::fill(std::begin(counts), std::end(counts), 0);
    crashAfter = -1;
    crashed = false;
    failedCall = "";
}

// Counts the call, and fails it when the crash or a plan strikes it.
FaultyFiles::Verdict FaultyFiles::Count(FileCall call, const std::filesystem::path& file,
                                        const std::filesystem::path& target)
{
    std::lock_guard lock(mutex);
    const int number = ++counts[static_cast<int>(call)];
    const int changes = IsChange(call) ? ++counts[static_cast<int>(FileCall::AnyChange)] : 0;
    const FileCallSeen seen{call, number, file, target};
    if (IsChange(call) && crashAfter >= 0 && changes > crashAfter) {
        // Only the write the crash interrupts stores anything: half of its bytes.
        const bool interrupted = !crashed && call == FileCall::Write;
        crashed = true;
        return {seen, platform::ReplayFileError(platform::FileError::AccessDenied), interrupted ? kHalfTheBytes : 0,
                true};
    }
    for (const Planned& plan : plans) {
        const bool struck = plan.call == call
            ? plan.number == number
            : plan.call == FileCall::AnyChange && IsChange(call) && plan.number == changes;
        if (struck) {
            failedCall = CallName(call);
            return {seen, platform::ReplayFileError(plan.windowsCode), plan.bytesBeforeFailing, true};
        }
    }
    return {seen, {}, 0, false};
}

FaultyFiles::Verdict FaultyFiles::Start(FileCall call, const std::filesystem::path& file,
                                        const std::filesystem::path& target)
{
    Verdict verdict = Count(call, file, target);
    if (!verdict.fails && before) {
        if (std::error_code error = before(verdict.seen)) {
            verdict.error = error;
            verdict.fails = true;
        }
    }
    return verdict;
}

std::error_code FaultyFiles::Finish(const Verdict& verdict, std::error_code error)
{
    if (!error && after)
        after(verdict.seen);
    return error;
}

std::error_code FaultyFiles::FindExactEntry(const std::filesystem::path& folder, const std::filesystem::path& name,
                                            bool& found)
{
    found = false;
    const Verdict verdict = Start(FileCall::Find, folder / name);
    return verdict.fails ? verdict.error : Finish(verdict, ReplayFileSystem::FindExactEntry(folder, name, found));
}

std::error_code FaultyFiles::QueryEntryKind(const std::filesystem::path& path, platform::EntryKind& kind)
{
    const Verdict verdict = Start(FileCall::Query, path);
    return verdict.fails ? verdict.error : Finish(verdict, ReplayFileSystem::QueryEntryKind(path, kind));
}

std::error_code FaultyFiles::ListFolder(const std::filesystem::path& folder, std::vector<std::filesystem::path>& names)
{
    names.clear();
    const Verdict verdict = Start(FileCall::List, folder);
    return verdict.fails ? verdict.error : Finish(verdict, ReplayFileSystem::ListFolder(folder, names));
}

std::error_code FaultyFiles::MoveWithoutReplace(const std::filesystem::path& from, const std::filesystem::path& to)
{
    const Verdict verdict = Start(FileCall::Move, from, to);
    return verdict.fails ? verdict.error : Finish(verdict, ReplayFileSystem::MoveWithoutReplace(from, to));
}

std::error_code FaultyFiles::CopyToNewFile(const std::filesystem::path& from, const std::filesystem::path& to)
{
    const Verdict verdict = Start(FileCall::Copy, from, to);
    return verdict.fails ? verdict.error : Finish(verdict, ReplayFileSystem::CopyToNewFile(from, to));
}

std::error_code FaultyFiles::CreateFolder(const std::filesystem::path& folder)
{
    const Verdict verdict = Start(FileCall::CreateFolder, folder);
    return verdict.fails ? verdict.error : Finish(verdict, ReplayFileSystem::CreateFolder(folder));
}

std::error_code FaultyFiles::CreateNewFile(const std::filesystem::path& file, platform::FileHandle& handle)
{
    const Verdict verdict = Start(FileCall::Create, file);
    return verdict.fails ? verdict.error : Finish(verdict, ReplayFileSystem::CreateNewFile(file, handle));
}

std::error_code FaultyFiles::Write(platform::FileHandle handle, std::string_view bytes)
{
    const Verdict verdict = Start(FileCall::Write, {});
    if (!verdict.fails)
        return Finish(verdict, ReplayFileSystem::Write(handle, bytes));
    const std::size_t stored =
        verdict.bytesBeforeFailing == kHalfTheBytes ? bytes.size() / 2 : verdict.bytesBeforeFailing;
    if (stored > 0)
        ReplayFileSystem::Write(handle, bytes.substr(0, std::min(stored, bytes.size())));
    return verdict.error;
}

std::error_code FaultyFiles::Close(platform::FileHandle handle)
{
    const Verdict verdict = Start(FileCall::Close, {});
    std::error_code closed = ReplayFileSystem::Close(handle); // released even when it "fails"
    return verdict.fails ? verdict.error : Finish(verdict, closed);
}

std::error_code FaultyFiles::RenameReplacing(const std::filesystem::path& from, const std::filesystem::path& to)
{
    const Verdict verdict = Start(FileCall::Rename, from, to);
    return verdict.fails ? verdict.error : Finish(verdict, ReplayFileSystem::RenameReplacing(from, to));
}

std::error_code FaultyFiles::RemoveFile(const std::filesystem::path& file)
{
    const Verdict verdict = Start(FileCall::Remove, file);
    return verdict.fails ? verdict.error : Finish(verdict, ReplayFileSystem::RemoveFile(file));
}

std::error_code FaultyFiles::Hold(const std::filesystem::path& file, bool create, platform::FileHandle& held)
{
    const Verdict verdict = Start(FileCall::Hold, file);
    return verdict.fails ? verdict.error : Finish(verdict, ReplayFileSystem::Hold(file, create, held));
}

} // namespace testing_support

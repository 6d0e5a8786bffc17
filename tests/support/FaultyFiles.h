// The one test double of the plugin's file layer: the platform's own calls, except the ones a
// test plans to fail. A plan names a kind of call and its number (the 2nd move, the 1st write),
// never a step of the protocol, so the protocol's order can change without touching the double.
// It can also "crash" the process after a number of changes, and let a test act before or
// after each call (another writer, a second answer, a pause). It installs itself while it lives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/ReplayFiles.h"

namespace testing_support {

enum class FileCall {
    AnyChange, // in a plan: any of the calls below up to Remove, counted together
    Move, // MoveWithoutReplace
    Copy, // CopyToNewFile
    CreateFolder,
    Create, // CreateNewFile
    Write,
    Close,
    Rename, // RenameReplacing
    Remove,
    Find, // FindExactEntry
    Query, // QueryEntryKind
    List, // ListFolder
    Hold,
};

// "move", "write", …: how a failure names its call.
const char* CallName(FileCall call);

// One call as a hook sees it: its kind, its number among calls of that kind, the file it acts
// on and, for moves, renames and copies, the new name.
struct FileCallSeen {
    FileCall call;
    int number;
    std::filesystem::path file, target;
};

class FaultyFiles : public platform::ReplayFileSystem {
public:
    FaultyFiles();
    ~FaultyFiles() override;
    FaultyFiles(const FaultyFiles&) = delete;
    FaultyFiles& operator=(const FaultyFiles&) = delete;

    // The number-th call of that kind (1: the first since construction or Reset) fails with
    // windowsCode and changes nothing, except that a failing write first stores its first
    // bytesBeforeFailing bytes and a failing close still closes. Plans add up.
    void Fail(FileCall call, int number, int windowsCode, std::size_t bytesBeforeFailing = 0);
    static constexpr std::size_t kHalfTheBytes = std::size_t(-1); // as bytesBeforeFailing
    void Fail(FileCall call, int number, platform::FileError error, std::size_t bytesBeforeFailing = 0)
    {
        Fail(call, number, static_cast<int>(error), bytesBeforeFailing);
    }
    // The process dies after that many changes (counted as for Fail): every later change does
    // nothing and fails (a write caught by the crash still stores half its bytes; handles close
    // as the process's would).
    void CrashAfter(int changes);
    // A hook that returns an error fails the call with it before the call does anything.
    std::function<std::error_code(const FileCallSeen&)> before;
    // Runs after each call that succeeded.
    std::function<void(const FileCallSeen&)> after;

    // A fresh process: no plan, no crash, every count back to zero; the hooks stay.
    void Reset();
    // The kind of the planned failure that struck ("" while none has), and whether the crash has.
    const char* FailedCall() const { return failedCall; }
    bool Crashed() const { return crashed; }

    std::error_code FindExactEntry(const std::filesystem::path& folder, const std::filesystem::path& name,
                                   bool& found) override;
    std::error_code QueryEntryKind(const std::filesystem::path& path, platform::EntryKind& kind) override;
    std::error_code ListFolder(const std::filesystem::path& folder, std::vector<std::filesystem::path>& names) override;
    std::error_code MoveWithoutReplace(const std::filesystem::path& from, const std::filesystem::path& to) override;
    std::error_code CopyToNewFile(const std::filesystem::path& from, const std::filesystem::path& to) override;
    std::error_code CreateFolder(const std::filesystem::path& folder) override;
    std::error_code CreateNewFile(const std::filesystem::path& file, platform::FileHandle& handle) override;
    std::error_code Write(platform::FileHandle handle, std::string_view bytes) override;
    std::error_code Close(platform::FileHandle handle) override;
    std::error_code RenameReplacing(const std::filesystem::path& from, const std::filesystem::path& to) override;
    std::error_code RemoveFile(const std::filesystem::path& file) override;
    std::error_code Hold(const std::filesystem::path& file, bool create, platform::FileHandle& held) override;

private:
    struct Planned {
        FileCall call;
        int number;
        int windowsCode;
        std::size_t bytesBeforeFailing;
    };
    // What becomes of this call: it goes on, or fails with error.
    struct Verdict {
        FileCallSeen seen;
        std::error_code error;
        std::size_t bytesBeforeFailing = 0;
        bool fails = false;
    };
    Verdict Start(FileCall call, const std::filesystem::path& file, const std::filesystem::path& target = {});
    Verdict Count(FileCall call, const std::filesystem::path& file, const std::filesystem::path& target);
    std::error_code Finish(const Verdict& verdict, std::error_code error);

    std::mutex mutex; // replies on several threads share the counts
    std::vector<Planned> plans;
    int counts[static_cast<int>(FileCall::Hold) + 1] = {};
    int crashAfter = -1;
    bool crashed = false;
    const char* failedCall = "";
};

} // namespace testing_support

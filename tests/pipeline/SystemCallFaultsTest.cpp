// The reply paths against failing system calls, the way SQLite tests its I/O: count the calls a
// reply makes in the replays and backup folders, then fail the first, then the second, ... each
// time in a fresh game folder. After every run the replay must still be listed, its original
// bytes kept, nothing may have escaped to the host, a run that did not repair must have said why,
// and the next load must leave no temporary file behind.
//
// This program puts its own open, read, write, fsync, close, fstat, link, unlink, rename and renameat2
// in front of the C library's, as FlushTest does: the plugin's POSIX seam calls them.
#include <fmt/format.h>
#include <fmt/ranges.h>
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <mutex>
#include <set>
#include <string>

#include "ReplayReplacement.h"
#include "pipeline/PipelineFixture.h"

using plugin::IsTemporaryName;
using testing_support::Names;
using testing_support::PipelineFixture;
using testing_support::ReadBytes;

namespace {

// Which calls count and which one fails. Only calls on paths under root, or on descriptors
// opened there, count: the host's and the test's own calls pass untouched.
struct FaultPlan {
    std::mutex mutex;
    std::string root;
    bool armed = false;
    bool noReplaceUnsupported = false; // renameat2 fails with EINVAL, as on file systems without it
    int failAt = 0; // the call that fails, counted from 1; 0: none
    int calls = 0;
    int struck = 0;
    std::set<int> descriptors;
};

FaultPlan plan;

template <typename Function>
Function Real(const char* name)
{
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

bool UnderRoot(const char* path)
{
    return plan.armed && path != nullptr && std::string(path).rfind(plan.root, 0) == 0;
}

// Counts one call and says whether it is the one to fail.
bool Strikes()
{
    if (++plan.calls != plan.failAt)
        return false;
    ++plan.struck;
    return true;
}

bool StrikesPath(const char* path)
{
    std::lock_guard lock(plan.mutex);
    return UnderRoot(path) && Strikes();
}

bool StrikesDescriptor(int fd)
{
    std::lock_guard lock(plan.mutex);
    return plan.armed && plan.descriptors.count(fd) != 0 && Strikes();
}

int Failed(int error)
{
    errno = error;
    return -1;
}

int OpenThrough(const char* path, int flags, mode_t mode)
{
    using Open = int (*)(const char*, int, ...);
    static const auto open = Real<Open>("open");
    if (StrikesPath(path))
        return Failed((flags & O_CREAT) != 0 ? ENOSPC : EACCES);
    int fd = open(path, flags, mode);
    std::lock_guard lock(plan.mutex);
    if (fd >= 0 && UnderRoot(path))
        plan.descriptors.insert(fd);
    return fd;
}

} // namespace

extern "C" {

int open(const char* path, int flags, ...)
{
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0) {
        va_list arguments;
        va_start(arguments, flags);
        mode = static_cast<mode_t>(va_arg(arguments, int));
        va_end(arguments);
    }
    return OpenThrough(path, flags, mode);
}

int open64(const char* path, int flags, ...)
{
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0) {
        va_list arguments;
        va_start(arguments, flags);
        mode = static_cast<mode_t>(va_arg(arguments, int));
        va_end(arguments);
    }
    return OpenThrough(path, flags, mode);
}

ssize_t read(int fd, void* buffer, size_t size)
{
    static const auto real = Real<ssize_t (*)(int, void*, size_t)>("read");
    return StrikesDescriptor(fd) ? Failed(EIO) : real(fd, buffer, size);
}

ssize_t write(int fd, const void* buffer, size_t size)
{
    static const auto real = Real<ssize_t (*)(int, const void*, size_t)>("write");
    return StrikesDescriptor(fd) ? Failed(ENOSPC) : real(fd, buffer, size);
}

int fsync(int fd)
{
    static const auto real = Real<int (*)(int)>("fsync");
    return StrikesDescriptor(fd) ? Failed(EIO) : real(fd);
}

int fstat(int fd, struct stat* status)
{
    static const auto real = Real<int (*)(int, struct stat*)>("fstat");
    return StrikesDescriptor(fd) ? Failed(EIO) : real(fd, status);
}

// A failed close still releases the descriptor, as Linux's does.
int close(int fd)
{
    static const auto real = Real<int (*)(int)>("close");
    const bool strikes = StrikesDescriptor(fd);
    {
        std::lock_guard lock(plan.mutex);
        plan.descriptors.erase(fd);
    }
    const int result = real(fd);
    return strikes ? Failed(EIO) : result;
}

int link(const char* from, const char* to)
{
    static const auto real = Real<int (*)(const char*, const char*)>("link");
    return StrikesPath(to) ? Failed(EIO) : real(from, to);
}

int unlink(const char* path)
{
    static const auto real = Real<int (*)(const char*)>("unlink");
    return StrikesPath(path) ? Failed(EBUSY) : real(path);
}

int rename(const char* from, const char* to)
{
    static const auto real = Real<int (*)(const char*, const char*)>("rename");
    return StrikesPath(to) ? Failed(EIO) : real(from, to);
}

int renameat2(int fromFolder, const char* from, int toFolder, const char* to, unsigned int flags)
{
    static const auto real = Real<int (*)(int, const char*, int, const char*, unsigned int)>("renameat2");
    {
        std::lock_guard lock(plan.mutex);
        if (UnderRoot(to) && plan.noReplaceUnsupported && (flags & RENAME_NOREPLACE) != 0)
            return Failed(EINVAL);
    }
    return StrikesPath(to) ? Failed(EIO) : real(fromFolder, from, toFolder, to, flags);
}

} // extern "C"

namespace {

const std::string kOriginal = "the original replay";
const std::string kRepaired = "the repaired replay";

struct Scenario {
    const char* name;
    int status;
    bool earlierRepair = false; // R_fixed.replay from an earlier repair
    bool backupOnOtherVolume = false; // the backup folder on /dev/shm: the backup is copied
    bool noReplaceUnsupported = false;
};

struct FaultRun {
    int calls = 0;
    int struck = 0;
};

// One answer for R in a fresh game folder, with the plan's fault; checks what must hold after it.
FaultRun AnswerWithFault(const Scenario& scenario, int failAt)
{
    PipelineFixture fixture;
    std::filesystem::path shmFolder;
    if (scenario.backupOnOtherVolume) {
        shmFolder = std::filesystem::path("/dev/shm") / ("ravento-faults-" + std::to_string(::getpid()));
        std::filesystem::remove_all(shmFolder);
        std::filesystem::create_directory(shmFolder);
        std::filesystem::remove(fixture.backups);
        std::filesystem::create_directory_symlink(shmFolder, fixture.backups);
    }
    fixture.AddReplay("R", kOriginal);
    if (scenario.earlierRepair)
        fixture.dir.MakeFile("TAGame/Demos/R_fixed.replay", "an earlier repair");
    fixture.Play("R");
    {
        std::lock_guard lock(plan.mutex);
        plan.root = fixture.dir.Path().string();
        plan.noReplaceUnsupported = scenario.noReplaceUnsupported;
        plan.failAt = failAt;
        plan.calls = plan.struck = 0;
        plan.descriptors.clear();
        plan.armed = true;
    }
    fixture.Answer(scenario.status, kRepaired);
    FaultRun run;
    {
        std::lock_guard lock(plan.mutex);
        plan.armed = false;
        run = {plan.calls, plan.struck};
    }
    const std::string where = std::string(scenario.name) + ", call " + std::to_string(failAt) + " failed";

    // The replay is listed and its original bytes are kept.
    const auto fixed = fixture.demos / "R_fixed.replay";
    const auto copy = fixture.backups / "R_copy.replay";
    const bool listed = std::filesystem::exists(fixture.demos / "R.replay") || std::filesystem::exists(fixed);
    EXPECT_TRUE(listed) << where;
    const bool originalKept =
        (std::filesystem::exists(fixture.demos / "R.replay") && ReadBytes(fixture.demos / "R.replay") == kOriginal)
        || (std::filesystem::exists(copy) && ReadBytes(copy) == kOriginal)
        || (scenario.status == 400 && ReadBytes(fixed) == kOriginal);
    EXPECT_TRUE(originalKept) << where;
    // Done, or said why not.
    const bool done =
        scenario.status == 400 ? !std::filesystem::exists(fixture.demos / "R.replay") : ReadBytes(fixed) == kRepaired;
    const auto log = fixture.Log();
    const bool explained = std::any_of(log.begin(), log.end(), [](const std::string& line) {
        return line != "Post result(200)" && line.rfind("DataSize ", 0) != 0;
    });
    // Not done is undone: the replay is where it was.
    if (!done) {
        EXPECT_EQ(ReadBytes(fixture.demos / "R.replay"), kOriginal) << where;
    }
    // A 400's rename is silent when it fails: the replay stays listed and is offered again.
    EXPECT_TRUE(done || explained || scenario.status == 400) << where << ": nothing done and nothing said";
    if (failAt == 0) {
        EXPECT_TRUE(done && !explained) << where << ": " << fmt::format("{}", fmt::join(log, " | "));
    }
    for (const std::string& line : fixture.HostLines())
        EXPECT_EQ(line.find(" threw"), std::string::npos) << where << ": " << line;

    // The next load settles what the failure left.
    fixture.Reload();
    fixture.Plugin().demosFolder.Set(fixture.demos);
    fixture.AddReplay("S");
    fixture.Play("S");
    fixture.Answer(500);
    for (const auto& folder : {fixture.demos, fixture.backups}) {
        for (const std::string& name : Names(folder))
            EXPECT_FALSE(IsTemporaryName(name)) << where << ": left behind: " << name;
    }
    if (!shmFolder.empty())
        std::filesystem::remove_all(shmFolder);
    return run;
}

} // namespace

TEST(SystemCallFaults, EveryCallOfAReplyFailsInTurnAndNothingIsLost)
{
    std::vector<Scenario> scenarios = {
        {"a repair", 200},
        {"a repair over an earlier one", 200, true},
        {"a replay that cannot be repaired", 400},
        {"a repair without RENAME_NOREPLACE", 200, false, false, true},
        {"a repair over an earlier one without RENAME_NOREPLACE", 200, true, false, true},
    };
    if (std::filesystem::is_directory("/dev/shm"))
        scenarios.push_back({"a repair with the backup folder on another volume", 200, false, true});
    for (const Scenario& scenario : scenarios) {
        const FaultRun clean = AnswerWithFault(scenario, 0);
        // Progress: the reply did its file work through these calls; each of them fails once.
        ASSERT_GT(clean.calls, 0) << scenario.name;
        int struck = 0;
        for (int failAt = 1; failAt <= clean.calls; ++failAt)
            struck += AnswerWithFault(scenario, failAt).struck;
        EXPECT_EQ(struck, clean.calls) << scenario.name << ": some planned faults never struck";
        std::printf("%s: %d calls, each failed once\n", scenario.name, clean.calls);
    }
}

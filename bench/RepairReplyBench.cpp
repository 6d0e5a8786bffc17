// The reply handling for a repaired replay (status 200) of 1, 10 and 100 MB, beside its floor:
// the least a replacement that survives a crash must do with the same bytes in the same folders.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include <benchmark/benchmark.h>

#include "BenchFolders.h"
#include "BenchHost.h"
#include "Paired.h"

namespace {

constexpr std::size_t kMegabyte = 1 << 20;

// The replays folder and its backup sibling, as the plugin finds them in a game folder.
struct GameFolder {
    GameFolder() : demos(BenchFolder("reply-game/Demos"))
    {
        std::filesystem::create_directories(demos.parent_path() / "OV_Ravento_BackupReplays");
    }
    std::filesystem::path demos;
};

const GameFolder& Game()
{
    static const GameFolder game;
    return game;
}

std::string_view ReplyBytes(std::size_t size)
{
    static const std::string bytes(100 * kMegabyte, 'R');
    return std::string_view(bytes).substr(0, size);
}

std::size_t SizeOf(const benchmark::State& state)
{
    return static_cast<std::size_t>(state.range(0)) * kMegabyte;
}

double SecondsOf(const std::function<void()>& work)
{
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Rename(const std::filesystem::path& from, const std::filesystem::path& to)
{
    if (::rename(from.c_str(), to.c_str()) != 0)
        throw std::runtime_error("cannot rename " + from.string());
}

void WriteFile(const std::filesystem::path& file, std::string_view bytes, bool flush)
{
    int descriptor = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (descriptor < 0)
        throw std::runtime_error("cannot create " + file.string());
    while (!bytes.empty()) {
        ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
        if (written <= 0)
            throw std::runtime_error("cannot write " + file.string());
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    if (flush)
        ::fsync(descriptor);
    ::close(descriptor);
}

// Writes every file system's pending changes to disk. A flush commits the journal, and with it
// whatever the set-up before it left pending (files removed, created, a folder of 100,000
// entries made by an earlier benchmark): each timed side starts from a settled disk, so it pays
// only for its own writing.
void SettleDisk()
{
    ::sync();
}

// Seconds that count runs of work took, each after its own set-up on a settled disk and
// followed by its untimed check.
double TimeEach(int count, const std::function<void()>& setUp, const std::function<void()>& work,
                const std::function<void()>& check = [] {})
{
    double seconds = 0.0;
    for (int run = 0; run < count; ++run) {
        setUp();
        SettleDisk();
        seconds += SecondsOf(work);
        check();
    }
    return seconds;
}

// Puts a side's folders back as a turn finds them: no repaired file, no backup, the old file.
void StartTurn(const std::filesystem::path& placed, const std::filesystem::path& backedUp,
               const std::filesystem::path& original)
{
    std::filesystem::remove(placed);
    std::filesystem::remove(backedUp);
    std::ofstream(original) << "the replay as uploaded";
}

// The reply handling against its floor, in turn, calls of each a turn. The floor writes and
// flushes the bytes under a temporary name, renames them into place and moves an old file to the
// backup folder: a reply must do all of it (the bytes whole or not at all, the original kept), and
// the renames meet the journal the flush has just committed. The plain write without the flush
// runs as its own benchmark: it shows what the flush costs.
void RepairReply(benchmark::State& state, int calls)
{
    Ravento& plugin = SharedBenchHost().Plugin();
    const std::filesystem::path& demos = Game().demos;
    plugin.demosFolder.Set(demos);
    const std::string id = "0123456789ABCDEF";
    const std::filesystem::path oldFile = demos / (id + ".replay");
    const std::filesystem::path repaired = demos / (id + "_fixed.replay");
    const std::filesystem::path backup = demos.parent_path() / "OV_Ravento_BackupReplays" / (id + "_copy.replay");
    const std::filesystem::path floorFile = demos / "floor.replay";
    const std::filesystem::path floorTemporary = demos / ".floor.tmp";
    const std::filesystem::path floorOld = demos / "floor-old.replay";
    const std::filesystem::path floorBackup = backup.parent_path() / "floor-old_copy.replay";
    std::string_view reply = ReplyBytes(SizeOf(state));
    bool written = true;
    RunPaired(
        state, calls,
        [&](int count) {
            return TimeEach(
                count,
                [&] { StartTurn(repaired, backup, oldFile); },
                [&] { plugin.OnRepairReply(demos, oldFile, id, 200, reply.data(), reply.size()); },
                [&] { written = written && std::filesystem::file_size(repaired) == reply.size(); });
        },
        [&](int count) {
            return TimeEach(
                count,
                [&] { StartTurn(floorFile, floorBackup, floorOld); },
                [&] {
                    WriteFile(floorTemporary, reply, true);
                    Rename(floorTemporary, floorFile);
                    Rename(floorOld, floorBackup);
                });
        });
    if (!written)
        state.SkipWithError("the repaired file was not written");
}

void PlainWrite(benchmark::State& state)
{
    const std::filesystem::path file = Game().demos / "floor.replay";
    std::string_view bytes = ReplyBytes(SizeOf(state));
    for (auto _ : state) {
        std::filesystem::remove(file);
        state.SetIterationTime(SecondsOf([&] { WriteFile(file, bytes, false); }));
    }
}

int RegisterReplySizes()
{
    // A flush's time varies from turn to turn far more than the reply's own work (on a busy disk
    // from 18 to 270 ms for 10 MB): enough turns that their median holds. A 1 MB flush is short
    // enough that one slow journal commit decides a turn, so its turns take five replies each.
    struct Size {
        int megabytes, callsPerTurn, turns;
    };
    for (Size size : {Size{1, 5, 40}, Size{10, 1, 40}, Size{100, 1, 12}}) {
        auto timed = [&](benchmark::internal::Benchmark* benchmark) {
            benchmark->ArgNames({"MB"})->Args({size.megabytes});
            benchmark->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(size.turns);
        };
        timed(benchmark::RegisterBenchmark("RepairReply", [calls = size.callsPerTurn](benchmark::State& state) {
            RepairReply(state, calls);
        }));
        timed(benchmark::RegisterBenchmark("PlainWrite", PlainWrite));
    }
    return 0;
}

const int registered = RegisterReplySizes();

} // namespace

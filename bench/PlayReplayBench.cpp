// The play-replay hook on the host's game thread, in replays folders of 100 to 100,000 entries,
// with the replay's file present and absent, beside its floor (one stat of the same file) and
// the naive lookup it replaces (a listing that compares every name).
//
// One iteration is one game event running a batch of calls; the counter "batch" says how many.
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>

#include <benchmark/benchmark.h>

#include "BenchFolders.h"
#include "BenchHost.h"

namespace {

constexpr int kBatch = 200;
constexpr const char* kInWindowDate = "2025-06-01 12:00";

struct Lookup {
    std::filesystem::path folder;
    std::string id;
    std::filesystem::path file;
};

// range(0): entries in the folder; range(1): 1 when the replay's file is there.
Lookup LookupFor(const benchmark::State& state)
{
    Lookup lookup;
    lookup.folder = ReplaysFolderOf(static_cast<int>(state.range(0)));
    lookup.id = state.range(1) ? PresentReplayId() : AbsentReplayId();
    lookup.file = lookup.folder / (lookup.id + ".replay");
    return lookup;
}

void RunBatches(benchmark::State& state, int batch, std::uintptr_t replay, const std::function<void(void*)>& work)
{
    BenchHost& host = SharedBenchHost();
    for (auto _ : state) {
        state.SetIterationTime(host.TimeOnGameThread(replay, batch, work));
        host.AnswerRequests();  // keeps the host's outstanding requests from piling up
    }
    state.counters["batch"] = batch;
}

void PlayReplay(benchmark::State& state)
{
    Lookup lookup = LookupFor(state);
    BenchHost& host = SharedBenchHost();
    Ravento& plugin = host.Plugin();
    plugin.demosFolder.Set(lookup.folder);
    std::uintptr_t replay = host.CreateReplay(lookup.id, kInWindowDate);
    RunBatches(state, kBatch, replay, [&plugin](void* params) {
        plugin.OnPlayReplay(ActorWrapper(0), params, "Function TAGame.ReplayManager_TA.PlayReplay");
    });
}

void StatFloor(benchmark::State& state)
{
    Lookup lookup = LookupFor(state);
    const std::string file = lookup.file.string();
    RunBatches(state, kBatch, 0, [&file](void*) {
        struct stat facts;
        benchmark::DoNotOptimize(::stat(file.c_str(), &facts));
    });
}

void NaiveListing(benchmark::State& state)
{
    Lookup lookup = LookupFor(state);
    const std::string wanted = lookup.id + ".replay";
    RunBatches(state, 1, 0, [&](void*) {
        bool found = false;
        for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(lookup.folder)) {
            if (entry.path().filename().string() == wanted) {
                found = true;
                break;
            }
        }
        benchmark::DoNotOptimize(found);
    });
}

// Each lookup runs right beside its floor, so the two see the same state of the machine.
int RegisterLookups()
{
    for (int present : {1, 0}) {
        for (int entries : {100, 1000, 10000, 100000}) {
            using Function = void (*)(benchmark::State&);
            const std::pair<const char*, Function> beside[] = {
                {"PlayReplay", PlayReplay}, {"StatFloor", StatFloor}, {"NaiveListing", NaiveListing}};
            for (auto [name, function] : beside) {
                benchmark::RegisterBenchmark(name, function)
                    ->ArgNames({"entries", "present"})
                    ->Args({entries, present})
                    ->UseManualTime()
                    ->Unit(benchmark::kMicrosecond);
            }
        }
    }
    return 0;
}

const int registered = RegisterLookups();

} // namespace

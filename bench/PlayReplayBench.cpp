// The play-replay hook on the host's game thread, in replays folders of 100 to 100,000 entries,
// with the replay's file present and absent, beside its floor and the naive lookup it replaces
// (a listing that compares every name). The floor is what the hook must have done outside its
// own code: the system calls of the lookup (a stat of the file; when it is absent, an access of
// the folder too, which tells a missing file from a missing folder) and, for a present file, the
// host's hand-off of the same upload request. A floor of one stat alone made the figure a
// measure of how cheap a system call is on the machine.
//
// The hook and its floor take turns in batches of calls, each batch inside one game event.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include <benchmark/benchmark.h>

#include "BenchFolders.h"
#include "BenchHost.h"
#include "Paired.h"
#include "orvane/HttpWrapper.h"

namespace {

constexpr int kBatch = 200;
constexpr int kFolderSizes[] = {100, 1000, 10000, 100000};
constexpr int kSmallestFolder = kFolderSizes[0];
constexpr int kLargestFolder = kFolderSizes[3];
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

// One call of the plugin's hook, as the host makes it after the game's play function.
std::function<void(void*)> PlayOnce(Ravento& plugin)
{
    return [&plugin](void* params) {
        plugin.OnPlayReplay(ActorWrapper(0), params, "Function TAGame.ReplayManager_TA.PlayReplay");
    };
}

std::function<void(void*)> FloorOnce(const Lookup& lookup)
{
    return [file = lookup.file.string(), folder = lookup.folder.string()](void*) {
        struct stat facts;
        if (::stat(file.c_str(), &facts) != 0) {
            benchmark::DoNotOptimize(::access(folder.c_str(), R_OK));
            return;
        }
        CurlRequest request;
        request.url = "https://repair.ravento.test/api/ravento";
        request.formFields.push_back({FormField::kFile, file, "file"});
        HttpWrapper::SendCurlRequest(std::move(request), [](int, char*, std::size_t) {});
    };
}

// The hook against its floor, each timed on the game thread.
void PlayReplay(benchmark::State& state)
{
    Lookup lookup = LookupFor(state);
    BenchHost& host = SharedBenchHost();
    host.Plugin().demosFolder.Set(lookup.folder);
    std::uintptr_t replay = host.CreateReplay(lookup.id, kInWindowDate);
    auto play = PlayOnce(host.Plugin());
    auto floor = FloorOnce(lookup);
    RunPaired(
        state, kBatch,
        [&](int calls) {
            double seconds = host.TimeOnGameThread(replay, calls, play);
            host.AnswerRequests(); // keeps the host's outstanding requests from piling up
            return seconds;
        },
        [&](int calls) {
            double seconds = host.TimeOnGameThread(replay, calls, floor);
            host.AnswerRequests();
            return seconds;
        });
}

// The hook in the largest folder against the same call in the smallest, in turn.
void PlayReplayFlat(benchmark::State& state)
{
    BenchHost& host = SharedBenchHost();
    const std::string id = state.range(0) ? PresentReplayId() : AbsentReplayId();
    std::uintptr_t replay = host.CreateReplay(id, kInWindowDate);
    auto play = PlayOnce(host.Plugin());
    auto playIn = [&](int entries) {
        return [&, entries](int calls) {
            host.Plugin().demosFolder.Set(ReplaysFolderOf(entries));
            double seconds = host.TimeOnGameThread(replay, calls, play);
            host.AnswerRequests();
            return seconds;
        };
    };
    RunPaired(state, kBatch, playIn(kLargestFolder), playIn(kSmallestFolder));
}

void NaiveListing(benchmark::State& state)
{
    Lookup lookup = LookupFor(state);
    const std::string wanted = lookup.id + ".replay";
    BenchHost& host = SharedBenchHost();
    auto list = [&](void*) {
        bool found = false;
        for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(lookup.folder)) {
            if (entry.path().filename().string() == wanted) {
                found = true;
                break;
            }
        }
        benchmark::DoNotOptimize(found);
    };
    for (auto _ : state)
        state.SetIterationTime(host.TimeOnGameThread(0, 1, list));
}

benchmark::internal::Benchmark* Register(const char* name, void (*function)(benchmark::State&))
{
    return benchmark::RegisterBenchmark(name, function)->UseManualTime()->Unit(benchmark::kMicrosecond);
}

int RegisterLookups()
{
    for (int present : {1, 0}) {
        for (int entries : kFolderSizes) {
            Register("PlayReplay", PlayReplay)->ArgNames({"entries", "present"})->Args({entries, present});
            Register("NaiveListing", NaiveListing)->ArgNames({"entries", "present"})->Args({entries, present});
        }
        Register("PlayReplayFlat", PlayReplayFlat)->ArgNames({"present"})->Args({present});
    }
    return 0;
}

const int registered = RegisterLookups();

} // namespace

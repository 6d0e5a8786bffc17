// Finding a replay's file in a replays folder of 10,000 entries: the one exact-name query the
// plugin makes, against the linear listing of the folder that it replaces.
#include <benchmark/benchmark.h>

#include <fstream>
#include <random>
#include <string>

#include <fmt/format.h>

#include "platform/ReplayFiles.h"

namespace {

constexpr int kReplayCount = 10000;

// A temporary folder of kReplayCount empty replay files, removed at exit.
class ReplayFolder {
public:
    ReplayFolder()
    {
        folder = std::filesystem::temp_directory_path() / fmt::format("ravento-bench-{}", std::random_device{}());
        std::filesystem::create_directories(folder);
        for (int replay = 0; replay < kReplayCount; ++replay)
            std::ofstream(folder / Name(replay));
    }
    ~ReplayFolder() { std::filesystem::remove_all(folder); }

    static std::string Name(int replay) { return fmt::format("{:016X}.replay", replay * 2654435761u); }

    std::filesystem::path folder;
};

const ReplayFolder& Replays()
{
    static const ReplayFolder replays;
    return replays;
}

const std::string kWanted = ReplayFolder::Name(kReplayCount / 2);

void ExactNameLookup(benchmark::State& state)
{
    const std::filesystem::path& folder = Replays().folder;
    for (auto _ : state) {
        bool found = false;
        std::error_code error = platform::FindExactEntry(folder, kWanted, found);
        benchmark::DoNotOptimize(found);
        if (error || !found)
            state.SkipWithError("lookup failed");
    }
}

void LinearListing(benchmark::State& state)
{
    const std::filesystem::path& folder = Replays().folder;
    for (auto _ : state) {
        bool found = false;
        for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(folder)) {
            if (entry.path().filename().string() == kWanted) {
                found = true;
                break;
            }
        }
        benchmark::DoNotOptimize(found);
        if (!found)
            state.SkipWithError("listing found nothing");
    }
}

} // namespace

BENCHMARK(ExactNameLookup);
BENCHMARK(LinearListing);
BENCHMARK_MAIN();

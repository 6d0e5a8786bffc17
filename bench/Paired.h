// A figure and its floor timed in turn within every iteration, so a change in the machine's
// load during the run hits both alike. The iteration's time is the figure's; the counters
// "figure_us" and "floor_us" give both per call (averaged over the iterations), and their
// ratio is what the targets judge.
#pragma once

#include <functional>

#include <benchmark/benchmark.h>

// Each function runs calls calls and returns the seconds they took.
using TimedCalls = std::function<double(int calls)>;

inline void RunPaired(benchmark::State& state, int calls, const TimedCalls& figure, const TimedCalls& floor)
{
    double figureSeconds = 0.0;
    double floorSeconds = 0.0;
    for (auto _ : state) {
        double seconds = figure(calls);
        figureSeconds += seconds;
        floorSeconds += floor(calls);
        state.SetIterationTime(seconds);
    }
    using benchmark::Counter;
    state.counters["figure_us"] = Counter(figureSeconds * 1e6 / calls, Counter::kAvgIterations);
    state.counters["floor_us"] = Counter(floorSeconds * 1e6 / calls, Counter::kAvgIterations);
}

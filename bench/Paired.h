// A figure and its floor timed in turn within every iteration, so a change in the machine's
// load during the run hits both alike. The iteration's time is the figure's; the counters
// "figure_us" and "floor_us" give both per call (averaged over the iterations), and "ratio"
// is the median of the iterations' own ratios, which a burst of load in one of them does not
// move. The targets judge that ratio.
#pragma once

#include <algorithm>
#include <functional>
#include <vector>

#include <benchmark/benchmark.h>

// Each function runs calls calls and returns the seconds they took.
using TimedCalls = std::function<double(int calls)>;

inline double Median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    if (values.size() % 2 == 1)
        return *middle;
    return (*middle + *std::max_element(values.begin(), middle)) / 2;
}

inline void RunPaired(benchmark::State& state, int calls, const TimedCalls& figure, const TimedCalls& floor)
{
    double figureSeconds = 0.0;
    double floorSeconds = 0.0;
    std::vector<double> ratios;
    bool figureFirst = true;
    for (auto _ : state) {
        // In alternating order, so that neither side always inherits what the other left behind
        // (a warm cache, a disk still writing back).
        double figureTime = 0.0;
        double floorTime = 0.0;
        if (figureFirst) {
            figureTime = figure(calls);
            floorTime = floor(calls);
        } else {
            floorTime = floor(calls);
            figureTime = figure(calls);
        }
        figureFirst = !figureFirst;
        figureSeconds += figureTime;
        floorSeconds += floorTime;
        if (floorTime > 0.0)
            ratios.push_back(figureTime / floorTime);
        state.SetIterationTime(figureTime);
    }
    using benchmark::Counter;
    state.counters["figure_us"] = Counter(figureSeconds * 1e6 / calls, Counter::kAvgIterations);
    state.counters["floor_us"] = Counter(floorSeconds * 1e6 / calls, Counter::kAvgIterations);
    state.counters["ratio"] = Median(std::move(ratios));
}

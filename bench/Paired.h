// A figure and its floor timed in turn within every iteration, so a change in the machine's
// load during the run hits both alike. The iteration's time is the figure's; the counters
// "figure_us" and "floor_us" give both per call (averaged over the iterations), and "ratio"
// is the median of the iterations' own ratios, which a burst of load in one of them does not
// move. The targets judge that ratio; "ratio_low" and "ratio_high" (the lower and upper quartile
// of the turns' ratios) give its spread, so a verdict that the turns do not agree on shows as
// unsteady rather than as a pass.
#pragma once

#include <algorithm>
#include <functional>
#include <vector>

#include <benchmark/benchmark.h>

// Each function runs calls calls and returns the seconds they took.
using TimedCalls = std::function<double(int calls)>;

// The value below which share of the values lie (interpolated between neighbours).
inline double Quantile(std::vector<double> values, double share)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const double at = share * static_cast<double>(values.size() - 1);
    const auto below = static_cast<std::size_t>(at);
    const std::size_t above = std::min(below + 1, values.size() - 1);
    return values[below] + (values[above] - values[below]) * (at - static_cast<double>(below));
}

inline double Median(std::vector<double> values)
{
    return Quantile(std::move(values), 0.5);
}

// The counters of a target judged by its turns' ratios: the median, and the spread around it.
inline void SetRatioCounters(benchmark::State& state, const std::vector<double>& ratios)
{
    state.counters["ratio_low"] = Quantile(ratios, 0.25);
    state.counters["ratio_high"] = Quantile(ratios, 0.75);
    state.counters["ratio"] = Median(ratios);
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
    SetRatioCounters(state, ratios);
}

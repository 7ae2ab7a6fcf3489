#pragma once

#include <QApplication>
#include <QtGlobal>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cmath>
#include <vector>

// The periods between the sweep times from `from` on, as counters against 3000 ms ± 5 %;
// false when there were fewer than two sweeps.
inline bool countSweepPeriods(benchmark::State& state, const std::vector<qint64>& sweeps, size_t from)
{
    std::vector<double> periods;
    for (size_t i = from + 1; i < sweeps.size(); ++i)
        periods.push_back(double(sweeps[i] - sweeps[i - 1]));
    if (periods.empty())
        return false;
    double sum = 0;
    for (double p : periods)
        sum += p;
    state.counters["sweeps"] = double(periods.size());
    state.counters["mean_ms"] = sum / double(periods.size());
    state.counters["min_ms"] = *std::min_element(periods.begin(), periods.end());
    state.counters["max_ms"] = *std::max_element(periods.begin(), periods.end());
    state.counters["outside_5_percent"] = double(
        std::count_if(periods.begin(), periods.end(), [](double p) { return std::abs(p - 3000) > 150; }));
    return true;
}

// The benchmark programs that drive the window run their cases inside a QApplication.
inline int runWithWidgets(int argc, char** argv)
{
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

#pragma once

// Runs a benchmark program and, once every benchmark has run, hands the
// measured times to a summary that sets our code beside its reference.

#include <benchmark/benchmark.h>

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace benchsupport {

class TimesReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            if (run.error_occurred || run.iterations <= 0) continue;
            // With repetitions the median, reported after the repetitions,
            // stands for the benchmark; without, the single run.
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type != Run::RT_Iteration && !median) continue;
            seconds_[run.run_name.str()] = run.real_accumulated_time / static_cast<double>(run.iterations);
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // Seconds per iteration of the first benchmark whose name starts with
    // prefix; 0 when none ran.
    double seconds(std::string_view prefix) const {
        for (const auto& [name, time] : seconds_)
            if (name.rfind(prefix, 0) == 0) return time;
        return 0;
    }

private:
    std::map<std::string, double> seconds_;
};

inline int run(int argc, char** argv, const std::function<void(const TimesReporter&)>& summary) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    TimesReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    summary(reporter);
    benchmark::Shutdown();
    return 0;
}

}  // namespace benchsupport

#pragma once

// Runs a benchmark program and, once every benchmark has run, hands the
// measured times to a summary that sets our code beside its reference.
//
// Unless the command line says otherwise, every benchmark runs in several
// repetitions whose order is shuffled across benchmarks, and the summary
// takes each one's median: a machine busy with other work then slows both
// sides of a comparison alike instead of whichever happened to run last.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace benchsupport {

class TimesReporter : public benchmark::ConsoleReporter {
public:
    explicit TimesReporter(OutputOptions options) : ConsoleReporter(options) {}

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

    // Seconds per iteration of the benchmark of exactly that name, else of
    // the first whose name starts with it; 0 when none ran.
    double seconds(std::string_view name) const {
        if (auto exact = seconds_.find(std::string(name)); exact != seconds_.end()) return exact->second;
        for (const auto& [runName, time] : seconds_)
            if (runName.rfind(name, 0) == 0) return time;
        return 0;
    }

private:
    std::map<std::string, double> seconds_;
};

// "--benchmark_color=auto|true|false" as the library's own console reporter
// reads it; the summary's reporter replaces that one, so it reads it here.
inline benchmark::ConsoleReporter::OutputOptions outputOptions(int argc, char** argv) {
    std::string color = "auto";
    bool tabular = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.rfind("--benchmark_color=", 0) == 0) color = arg.substr(18);
        if (arg.rfind("--benchmark_counters_tabular=", 0) == 0) {
            const std::string_view value = arg.substr(29);
            tabular = value == "true" || value == "yes" || value == "1";
        }
    }
    bool useColor = false;
    if (color == "auto") {
        const char* term = std::getenv("TERM");
        useColor = ::isatty(STDOUT_FILENO) != 0 && term != nullptr && std::string_view(term) != "dumb";
    } else {
        useColor = color == "true" || color == "yes" || color == "1";
    }
    int options = benchmark::ConsoleReporter::OO_None;
    if (useColor) options |= benchmark::ConsoleReporter::OO_Color;
    if (tabular) options |= benchmark::ConsoleReporter::OO_Tabular;
    return static_cast<benchmark::ConsoleReporter::OutputOptions>(options);
}

// `repetitions` interleaved rounds unless the command line sets its own.
inline int run(int argc, char** argv, const std::function<void(const TimesReporter&)>& summary,
               int repetitions = 9) {
    std::vector<std::string> storage(argv, argv + argc);
    const bool ownRepetitions = std::any_of(storage.begin(), storage.end(), [](const std::string& a) {
        return a.rfind("--benchmark_repetitions", 0) == 0;
    });
    if (!ownRepetitions && repetitions > 1) {
        storage.push_back("--benchmark_repetitions=" + std::to_string(repetitions));
        storage.push_back("--benchmark_enable_random_interleaving=true");
        storage.push_back("--benchmark_report_aggregates_only=true");
    }
    std::vector<char*> args;
    for (auto& a : storage) args.push_back(a.data());
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);

    // Read before Initialize, which takes the library's flags out of args.
    TimesReporter reporter(outputOptions(count, args.data()));
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::fflush(stdout);
    summary(reporter);
    benchmark::Shutdown();
    return 0;
}

// The name of item `n` of a listing of `count` items, of mixed scripts and
// forms, so the name order meets both the plain ASCII path and normalisation.
inline std::string mixedName(int n, int count) {
    static const char* stems[] = {"Rapport %05d.pdf", "R\xc3\xa9sum\xc3\xa9 %05d.docx", "Photo %05d.jpg",
                                  "A\xcc\x8a %05d", "\xe5\x86\x99\xe7\x9c\x9f %05d.png", "notes-%05d.txt"};
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, stems[n % 6], (n * 7919) % count);
    return buffer;
}

// A settings folder of the run's own, named after `stem`, so the benchmark
// leaves no settings file behind.
class ConfigFolder {
public:
    explicit ConfigFolder(const std::string& stem) {
        std::string pattern = (std::filesystem::temp_directory_path() / (stem + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
        if (!path_.empty()) ::setenv("XDG_CONFIG_HOME", path_.c_str(), 1);
    }
    ~ConfigFolder() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    ConfigFolder(const ConfigFolder&) = delete;
    ConfigFolder& operator=(const ConfigFolder&) = delete;

private:
    std::filesystem::path path_;
};

}  // namespace benchsupport

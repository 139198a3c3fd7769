// Runs the benchmarks, then prints the side-by-side table that the colour kernels are judged
// by: speed against OpenCV on the same frame, and image quality against the scene; then the
// frame pipelines beside their frames' bus time.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "bench_report.h"

namespace {

// A run's name without what repetitions and time limits add to it, so the tables find it under
// the name they ask for.
std::string baseName(const benchmark::BenchmarkReporter::Run& run) {
    std::string name = run.run_name.str();
    for (const char* suffix : {"/repeats:", "/min_time:"}) {
        const size_t at = name.find(suffix);
        if (at != std::string::npos) {
            const size_t next = name.find('/', at + 1);
            name.erase(at, next == std::string::npos ? std::string::npos : next - at);
        }
    }
    return name;
}

// Collects each benchmark's figures for the tables: its median over the repetitions when it was
// repeated, else its one run.
class CollectingReporter : public benchmark::ConsoleReporter {
  public:
    explicit CollectingReporter(OutputOptions options) : ConsoleReporter(options) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const bool aggregate = run.run_type == Run::RT_Aggregate;
            if (run.error_occurred || (aggregate && run.aggregate_name != "median")) {
                continue;
            }
            const std::string name = baseName(run);
            if (!aggregate && medians_.count(name) != 0) {
                continue;
            }
            if (aggregate) {
                medians_.insert(name);
            }
            auto it = run.counters.find("MPix/s");
            if (it != run.counters.end()) {
                rates_[name] = it->second.value;
            }
            auto period = run.counters.find("period_ms");
            if (period != run.counters.end() && (aggregate || run.iterations > 0)) {
                // Real time per iteration, in the benchmark's unit of milliseconds.
                pipelines_[name] = {run.report_label, run.GetAdjustedRealTime(),
                                    period->second.value};
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    const std::map<std::string, double>& rates() const { return rates_; }
    std::vector<kqfw::bench::PipelineRun> pipelines() const {
        std::vector<kqfw::bench::PipelineRun> all;
        for (const auto& [name, run] : pipelines_) {
            all.push_back(run);
        }
        return all;
    }

  private:
    std::set<std::string> medians_;
    std::map<std::string, double> rates_;
    std::map<std::string, kqfw::bench::PipelineRun> pipelines_;
};

// Google Benchmark applies --benchmark_color only to the reporter it makes itself.
benchmark::ConsoleReporter::OutputOptions outputOptions(int argc, char** argv) {
    bool color = isatty(fileno(stdout)) != 0;
    const std::string flag = "--benchmark_color=";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind(flag, 0) == 0) {
            const std::string value = arg.substr(flag.size());
            if (value != "auto") {
                color = value == "true" || value == "yes" || value == "1" || value == "always";
            }
        }
    }
    return color ? benchmark::ConsoleReporter::OO_Color : benchmark::ConsoleReporter::OO_None;
}

}  // namespace

int main(int argc, char** argv) {
    const auto options = outputOptions(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    CollectingReporter reporter(options);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    kqfw::bench::printColourTable(reporter.rates());
    kqfw::bench::printPipelineTable(reporter.pipelines());
    return 0;
}

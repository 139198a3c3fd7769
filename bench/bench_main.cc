// Runs the benchmarks, then prints the side-by-side table that the colour kernels are judged
// by: speed against OpenCV on the same frame, and image quality against the scene; then the
// frame pipelines beside their frames' bus time.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include "bench_report.h"

namespace {

class CollectingReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            auto it = run.counters.find("MPix/s");
            if (it != run.counters.end()) {
                rates_[run.benchmark_name()] = it->second.value;
            }
            auto period = run.counters.find("period_ms");
            if (period != run.counters.end() && !run.error_occurred && run.iterations > 0) {
                // Real time per iteration, in the benchmark's unit of milliseconds.
                pipelines_.push_back(
                    {run.report_label, run.GetAdjustedRealTime(), period->second.value});
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    const std::map<std::string, double>& rates() const { return rates_; }
    const std::vector<kqfw::bench::PipelineRun>& pipelines() const { return pipelines_; }

  private:
    std::map<std::string, double> rates_;
    std::vector<kqfw::bench::PipelineRun> pipelines_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    kqfw::bench::printColourTable(reporter.rates());
    kqfw::bench::printPipelineTable(reporter.pipelines());
    return 0;
}

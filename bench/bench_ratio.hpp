// A console reporter for benchmarks named <family>/<implementation>: after the table it prints
// every other implementation's CPU time over Ostrel's, family by family (CPU time: the machines
// these run on are shared).
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace ostrel::bench {

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &r : runs) {
            if (r.error_occurred || r.run_type != Run::RT_Iteration) continue;
            std::string name = r.benchmark_name();
            size_t slash = name.find('/');
            if (slash != std::string::npos)
                times_[name.substr(0, slash)][name.substr(slash + 1)] = r.GetAdjustedCPUTime();
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        for (auto &[family, impls] : times_) {
            auto ours = impls.find("Ostrel");
            if (ours == impls.end() || ours->second <= 0) continue;
            for (auto &[impl, t] : impls)
                if (impl != "Ostrel")
                    std::printf("ratio %-12s %-24s / Ostrel = %.2f\n", family.c_str(), impl.c_str(), t / ours->second);
        }
    }

  private:
    std::map<std::string, std::map<std::string, double>> times_;
};

// Runs the registered benchmarks with the ratio report: the body of a benchmark program's main.
inline int run_with_ratios(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

}  // namespace ostrel::bench

// Benchmarks name their baseline; after the run every figure is printed as
// a ratio to the baseline measured in the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace bench {

// (benchmark, baseline) run names, as Google Benchmark reports them.
inline std::vector<std::pair<std::string, std::string>>& RatioPairs() {
  static std::vector<std::pair<std::string, std::string>> pairs;
  return pairs;
}

struct CompareTo {
  CompareTo(std::initializer_list<const char*> runs, const char* baseline) {
    for (const char* run : runs) RatioPairs().emplace_back(run, baseline);
  }
};

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (!run.error_occurred && run.iterations > 0)
        times_[run.benchmark_name()] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  void PrintRatios() const {
    for (const auto& [run, baseline] : RatioPairs()) {
      auto r = times_.find(run);
      auto b = times_.find(baseline);
      if (r == times_.end() || b == times_.end() || b->second <= 0) continue;
      std::printf("ratio %-52s %7.3fx %s\n", run.c_str(), r->second / b->second, baseline.c_str());
    }
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace bench

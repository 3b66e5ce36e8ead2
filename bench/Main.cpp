// zef_bench: runs every benchmark with its baseline, then prints one line
// per target with the ratio of the two times. With a tool mode as first
// argument it does one job for bench/run instead (see Tools.h).
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <cstring>

#include "bench/Targets.h"
#include "bench/Tools.h"

namespace {

constexpr int kKeptMemory = 1 << 30;

// Passes everything to the console and keeps, per benchmark, the best CPU
// and wall-clock times per iteration over the repetitions: the machine is
// shared, and the best run is the one least disturbed by others.
class CollectingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations == 0) continue;
      const zefbench::Timing timing{run.cpu_accumulated_time / double(run.iterations),
                                    run.real_accumulated_time / double(run.iterations)};
      const std::string name = run.run_name.str();
      auto [entry, added] = results_.emplace(name, timing);
      if (!added) {
        entry->second.cpu = std::min(entry->second.cpu, timing.cpu);
        entry->second.wall = std::min(entry->second.wall, timing.wall);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  const zefbench::Results& Results() const { return results_; }

 private:
  zefbench::Results results_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strncmp(argv[1], "--tool-", 7) == 0) return zefbench::RunTool(argc, argv);
  // Every case repeats its work many times. Freed memory stays in the
  // process, so that cases whose pictures pass the heap's trim threshold
  // do not pay the kernel's page clearing on each repetition while smaller
  // cases reuse their memory: what is compared is the work, not the heap.
  mallopt(M_MMAP_THRESHOLD, kKeptMemory);
  mallopt(M_TRIM_THRESHOLD, kKeptMemory);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  CollectingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return zefbench::PrintSummary(reporter.Results()) == 0 ? 0 : 2;
}

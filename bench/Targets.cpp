#include "bench/Targets.h"

#include <cstdio>
#include <vector>

namespace zefbench {

namespace {
std::vector<Target>& AllTargets() {
  static std::vector<Target> targets;
  return targets;
}
}  // namespace

void AddTarget(const Target& target) { AllTargets().push_back(target); }

int PrintSummary(const Results& results) {
  int missed = 0;
  std::printf("\n== targets: CPU time of each case / CPU time of its baseline, best of the repetitions\n"
              "   (wall-clock time for both where the case says so)\n");
  std::printf("%-52s %10s %9s  %s\n", "case", "ratio", "target", "result");
  for (const Target& target : AllTargets()) {
    std::string note;
    const bool binding = !target.binds || target.binds(&note);
    const auto measured = results.find(target.measured);
    const auto baseline = results.find(target.baseline);
    const auto seconds = [&target](const Timing& timing) {
      return target.wallTime ? timing.wall : timing.cpu;
    };
    if (measured == results.end() || baseline == results.end() || seconds(baseline->second) <= 0) {
      std::printf("%-52s %10s %9s  not measured\n", target.label.c_str(), "-", "-");
      continue;
    }
    const double ratio =
        (seconds(measured->second) / target.measuredPer) / (seconds(baseline->second) / target.baselinePer);
    const bool met = ratio <= target.limit;
    if (binding && !met) ++missed;
    const char* verdict = !binding ? "shown only" : met ? "met" : "MISSED";
    char limit[32];
    std::snprintf(limit, sizeof limit, "<= %.3g", target.limit);
    char speed[32] = "";
    if (ratio < 1.0) std::snprintf(speed, sizeof speed, " (%.1fx faster)", 1.0 / ratio);
    std::printf("%-52s %10.4f %9s  %s%s%s%s\n", target.label.c_str(), ratio,
                limit, verdict, speed,
                note.empty() ? "" : "; ", note.c_str());
  }
  return missed;
}

}  // namespace zefbench

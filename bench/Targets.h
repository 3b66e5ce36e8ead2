// The targets of the benchmarks: each compares one benchmark with its
// baseline, both measured in the same run, and says whether the ratio of
// their times stays within a limit.
#pragma once

#include <functional>
#include <map>
#include <string>

namespace zefbench {

struct Target {
  std::string label;
  std::string measured;  // benchmark names
  std::string baseline;
  // measured time / baseline time must not exceed this.
  double limit = 1.0;
  // Times are divided by these before comparing (images per iteration).
  double measuredPer = 1.0;
  double baselinePer = 1.0;
  // When given and false, the line is shown but binds nothing: the target
  // holds only for some cases. Fills in the note that says why.
  std::function<bool(std::string* note)> binds = nullptr;
  // Compare wall-clock times rather than the CPU time of the benchmark's
  // thread: needed where the work is spread over other threads.
  bool wallTime = false;
};

void AddTarget(const Target& target);

// Seconds per iteration by benchmark name; each the best of the repetitions.
struct Timing {
  double cpu = 0;
  double wall = 0;
};
using Results = std::map<std::string, Timing>;

// One line per target. Returns the number of binding targets that were
// measured and missed.
int PrintSummary(const Results& results);

}  // namespace zefbench

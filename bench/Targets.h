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
};

void AddTarget(const Target& target);

// Seconds per iteration by benchmark name; the best of the repetitions.
using Results = std::map<std::string, double>;

// One line per target. Returns the number of binding targets that were
// measured and missed.
int PrintSummary(const Results& results);

}  // namespace zefbench

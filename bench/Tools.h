// Jobs that bench/run needs besides the benchmarks, chosen by the first
// argument ("--tool-<name>"): each is one short process whose peak memory
// bench/run measures, or which prepares the input of such a process.
#pragma once

#include <functional>
#include <string>

namespace zefbench {

using Tool = std::function<int(int argc, char** argv)>;

void AddTool(const std::string& name, Tool tool);

// Runs the tool that argv[1] names; 1 with a message for an unknown one.
int RunTool(int argc, char** argv);

}  // namespace zefbench

// The command line: option flags and the usage text.
#pragma once

#include "frontend/RunState.h"

namespace zef::frontend {

// Sets the option flags from every argument between the program name and
// the last one. False (after printing why, if there is no file name) when
// the command line cannot be used; flags already set stay set.
bool ParseOptions(RunState& run, int argc, const char* const* argv);

// Prints the usage text with the key prompt and waits for a key.
void PrintUsage();

// The environment variable that sets how many threads load the images; the
// command line stays as it is. Unset, one thread per core.
inline constexpr const char* kThreadsVariable = "ZEF_THREADS";
inline constexpr int kMostThreads = 256;
// The number of threads a value of that variable asks for: a whole number
// from 1 to kMostThreads, digits only; 0 for no value or any other text.
int ThreadSetting(const char* value);

}  // namespace zef::frontend

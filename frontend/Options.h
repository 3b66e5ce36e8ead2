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

}  // namespace zef::frontend

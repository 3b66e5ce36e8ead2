// The conversion script, read into the run's script fields.
#pragma once

#include <string>

#include "frontend/RunState.h"

namespace zef::frontend {

// Reads the script into the run's script fields, printing every fault it
// finds. True when the fields are complete and at least one image is named.
bool ParseScript(RunState& run, const std::string& fileName);

}  // namespace zef::frontend

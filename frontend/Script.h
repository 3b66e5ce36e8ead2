// The conversion script: start index, output file, masks, alpha values and
// the list of image (and mask) files.
#pragma once

#include <cstdint>
#include <string>

#include "frontend/RunState.h"

namespace zef::frontend {

// Reads the script into the run's script fields, printing every fault it
// finds. True when the fields are complete and at least one image is named.
bool ParseScript(RunState& run, const std::string& fileName);

// Reads a leading decimal number as atoi does (leading white space, a sign,
// then digits; 0 when there is none), but saturates at the ends of the
// 32-bit range instead of overflowing.
int32_t ReadDecimal(const std::string& text);

}  // namespace zef::frontend

// The conversion script: start index, output file, masks, alpha values and
// the list of image (and mask) files. One reader for the console tool, which
// prints its messages, and for zef, which reports them as its error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zef {

struct ConversionScript {
  int32_t startIndex = 0;
  std::string outputFileName;  // with ".zef" added where the name lacks it
  bool useMask = true;         // until the script says otherwise
  int32_t alphaValues = 2;
  // The n-th mask belongs to the n-th image.
  std::vector<std::string> imageFileNames;
  std::vector<std::string> maskFileNames;
};

enum class ScriptFault {
  kNone,
  kCannotOpen,  // "could not open file ..."
  kBadValue,    // a key's value is refused; reading stopped at that line
  kIncomplete,  // a line too long, a piece missing, or no image named
};

struct ScriptReading {
  ConversionScript script;  // as far as it was read
  ScriptFault fault = ScriptFault::kNone;
  // Every fault found, in the order found, as the console tool prints them.
  std::vector<std::string> messages;
};

// Keys stand in the first column in any letter case; lines shorter than
// four bytes and lines starting with '#' are skipped; with masks on, file
// names come in pairs of image and mask. Lines are bounded, so that no
// script, not even an endless one, makes memory grow per line.
ScriptReading ReadConversionScript(const std::string& fileName);

// A leading decimal number as atoi reads it (leading white space, a sign,
// digits; 0 when there is none), saturated at the ends of the 32-bit range.
int32_t ReadDecimal(const std::string& text);

}  // namespace zef

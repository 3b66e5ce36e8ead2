// The subcommands with their options parsed: each writes its data to `out`
// and its messages to `err`, and returns the exit code (0 done, 1 failed).
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "zef/Pack.h"

namespace zef::tool {

inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitMisuse = 2;

enum class PackReport { kSummary, kJson, kHtml };

int RunPack(const PackOptions& options, PackReport report, std::ostream& out, std::ostream& err);
int RunInfo(const std::string& archive, bool json, std::ostream& out, std::ostream& err);
// Pictures of more than maxImageBytes decoded bytes are refused (0: no limit).
int RunExtract(const std::string& archive, const std::string& folder, uint64_t maxImageBytes,
               std::ostream& err);

// The whole command line: parses it and runs the subcommand. Misuse prints
// the cause and the usage on `err` and returns kExitMisuse.
int RunCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace zef::tool

// The conversion run: the writer makes the archive, then the size report.
#pragma once

#include <cstdint>
#include <string>

#include "frontend/RunState.h"

namespace zef::frontend {

// Configures the run's writer, writes the archive and prints the written
// file and the size report. False, with the writer's message printed, when
// the write fails.
bool WriteArchive(RunState& run);

// The report line comparing the source files' size with the archive's.
std::string SizeReport(uint64_t sourceBytes, uint64_t archiveBytes);

}  // namespace zef::frontend

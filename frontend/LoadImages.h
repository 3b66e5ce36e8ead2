// Loading the script's images and masks into the working layouts, with the
// colour check that the archive's palettes need.
#pragma once

#include <cstdint>
#include <string>

#include "frontend/RunState.h"

namespace zef::frontend {

// Most distinct colours of one image: masked pixels give two of the eight
// index bits to alpha, so fewer colours fit.
inline constexpr size_t kMaxColoursWithMask = 64;
inline constexpr size_t kMaxColoursWithoutMask = 256;

// Loads every image (8-bit, 3 channels) and mask (8-bit, 1 channel) named in
// the run state, checks colours and sizes, and adds up the file sizes.
// Stops at the first fault, prints it and returns false; what was loaded
// before stays in the lists. Files are read and decoded on the imaging
// library's threads (cv::setNumThreads sets how many), a few ahead of the
// one being checked; messages and checks come in script order whatever
// the number of threads.
bool LoadImages(RunState& run);

// The size of the file in bytes; 0 when it cannot be opened or is not a
// regular file.
uint64_t FileSize(const std::string& fileName);

}  // namespace zef::frontend

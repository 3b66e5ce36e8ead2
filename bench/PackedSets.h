// A picture set as `zef pack` packs it: the pictures written as PNG files
// into a folder, packed with the given options, and the archive's bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench/FidelitySets.h"
#include "zef/Pack.h"

namespace zefbench {

// Writes the set's PNG files into `folder` unless they are there, packs
// that folder into `folder`.zef with `options` (inputs and output are set
// here) and returns the archive's bytes; empty, with the cause in *error,
// on failure. The archive's images are in the set's order.
std::vector<uint8_t> PackSet(const PictureSet& set, const std::string& folder, zef::tool::PackOptions options,
                             std::string* error);

// The version 4 archive of the set as the library makes it: each picture
// reduced by our RGBA quantizer for `quality` dB (at most 256 entries),
// written by EncodeIndexed. Empty, with the cause in *error, on failure.
std::vector<uint8_t> Version4Archive(const PictureSet& set, double quality, std::string* error);

}  // namespace zefbench

// The archive id: a CRC-32 of what a generated header's names depend on
// (the image count, the start index, each image's width, height and alpha
// bits), so that firmware can tell whether an archive still matches the
// header it was built with. The bytes fed to the CRC are in docs/format.md
// ("Archive id"); the device decoder's zefdec_archive_id gives the same
// value. Data offsets and pixels are left out: they change with every
// picture, and a header that changed with them would recompile its users.
#pragma once

#include <cstdint>
#include <vector>

#include "archive/ZefDecode.h"

namespace zef {

struct ImageShape {
  uint32_t width = 0;
  uint32_t height = 0;
  uint8_t alphaBits = 0;  // as ArchiveIdAlphaBits gives them
};

uint32_t ArchiveId(uint32_t startIndex, const std::vector<ImageShape>& images);

// Alpha bits as the id counts them, which are those zefdec_info gives: a
// version 1 or 2 colour word's nibble counts as 4 even where the header
// says it carries no alpha.
uint8_t ArchiveIdAlphaBits(int version, uint8_t alphaBits);

// The id of a decoded (or only checked: Options::keepPixels false) archive.
uint32_t ArchiveId(const ArchiveInfo& info, const std::vector<DecodedImage>& images);

}  // namespace zef

// Decoding a .zef archive (version 1, 2, 3 or 4) from bytes or from a file.
//
// An archive is untrusted input: nothing in it makes the decoder allocate
// or loop beyond what its bytes can hold, and the caller's limits
// (Options::limits) refuse large images before their memory is taken.
// Nothing throws: every result carries an error code and the reader's
// message text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/ZefFormat.h"
#include "archive/ZefOptions.h"

namespace zef {

// What the archive says of itself.
struct ArchiveInfo {
  int version = 0;
  HeaderBytes header{};
  uint32_t imageCount = 0;
  uint32_t startIndex = 0;  // 0 below version 3
  // Bits of the alpha codes that decoding gives: 0 (the values carry no
  // alpha), 1 or 2 (pixel codes), 4 (colour words) or 8 (version 4).
  uint8_t alphaBits = 0;
  uint64_t fileSize = 0;
};

struct DecodedImage {
  uint32_t number = 0;  // start index + position in the archive
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t paletteColours = 0;  // versions 3 and 4 (entry count); 0 otherwise
  // Bytes of the image's data in the archive, from its image marker on.
  uint64_t dataBytes = 0;
  // Blue, green, red: each 4-bit channel n as n * 16, version 4 the
  // entry's 8-bit channels exactly; rows of width * 3 bytes one after another. Empty from DecodeMats, which gives cv::Mat.
  std::vector<uint8_t> pixels;
  // One alpha code per pixel, row by row, when the archive has alpha bits
  // and Options::decodeAlpha is set; empty otherwise.
  std::vector<uint8_t> alphaCodes;
};

// A code of `bits` bits as 8-bit alpha: code * 255 / (2^bits - 1).
inline uint8_t Alpha8(uint8_t code, uint8_t bits) {
  return bits == 0 ? 255 : uint8_t(code * 255u / ((1u << bits) - 1u));
}

struct DecodeResult : Status {
  ArchiveInfo info;
  std::vector<DecodedImage> images;  // empty on failure
};

// Decodes `size` bytes at `data`; the bytes are not kept.
DecodeResult Decode(const uint8_t* data, size_t size, const Options& options = {});
// Decodes the whole content of a file.
DecodeResult DecodeFile(const std::string& fileName, const Options& options = {});

}  // namespace zef

// What encoding and decoding share: the options a caller sets and the error
// code every result carries beside its message text.
#pragma once

#include <cstdint>
#include <string>

#include "archive/ZefFormat.h"

namespace zef {

// Why an operation failed. The message beside it is the exact text that
// ZefImgWriter and ZefImgReader report for the same fault.
enum class Error : uint8_t {
  kNone,
  kBadSetting,     // a version, alpha value count or alpha position refused
  kBadInput,       // no images, or images and masks that the checks refuse
  kPaletteTooBig,  // an image has more colours than its pixel codes can address
  kMaskNotCoded,   // masks given while the alpha setting has no alpha bits
  kCannotOpen,     // the file cannot be opened (read or written)
  kCannotWrite,    // writing the file failed (a full disk, say)
  kArchiveTooLarge,  // the archive would pass the archive size limit
  kOutOfMemory,
  kBadArchive,     // the archive's bytes break the format
  kImageTooLarge,  // an image passes a decode limit or cannot be held
};

// An error code and its message; kNone with an empty message on success.
struct Status {
  Error error = Error::kNone;
  std::string message;
  bool Ok() const { return error == Error::kNone; }
};

// Where the alpha bits sit in a stored value.
enum class AlphaPosition : uint8_t { kHigh, kLow };

// Limits on what a decode may allocate for untrusted archives; 0 is no
// limit. An image that passes one is refused with "error in image data
// (image too large)" before any of its memory is taken.
struct DecodeLimits {
  uint64_t maxPixelsPerImage = 0;
  // Bytes of decoded images in total: 3 per pixel, 4 when alpha is decoded.
  uint64_t maxDecodedBytes = 0;
};

struct Options {
  // Encoding: archive version 2 (colour words) or 3 (a palette per image).
  int version = kVersion3;
  // Version 3 only: alpha values per pixel, 0 (none), 2 (1 bit) or 4 (2 bits).
  int alphaValues = 4;
  AlphaPosition alphaPosition = AlphaPosition::kHigh;
  // Number of the first image; stored by version 3 only.
  int32_t startIndex = 0;
  // Encoding fails with "archive too large" rather than pass this; u32
  // offsets address no more than the default.
  uint64_t archiveSizeLimit = kMaxArchiveSize;

  DecodeLimits limits;
  // Decoding: also give the alpha code of every pixel when the archive has
  // alpha bits.
  bool decodeAlpha = true;
  // Decoding: false to check the archive and describe its images without
  // keeping their pixels, in memory that does not grow with the images.
  // Every fault is found as a full decode finds it; the images come back
  // without pixels, alpha codes or cv::Mat.
  bool keepPixels = true;
};

}  // namespace zef

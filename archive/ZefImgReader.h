// ZefImgReader reads a .zef archive of version 1, 2 or 3 back into 8-bit
// 3-channel images (blue, green, red), in archive order. It keeps the
// header read last and the pending message between calls; the decoding
// itself is that of DecodeMats (archive/ZefDecodeMat.h).
//
// An archive is untrusted input. Every check and message follows the rules
// of a binary input stream (see InputBuffer), yet no header field alone
// makes the reader allocate or loop: tables are read in place, and an image
// is created only when the rest of the file can hold its data and the
// limits (SetLimits) allow it.
//
// No member throws. A failing member records its message (replacing any
// earlier one) and returns false or no value; GetError() hands the message
// out and empties it. A successful Read leaves an earlier message pending.
#pragma once

#include <opencv2/core.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/ArchiveDecoder.h"
#include "archive/ArchiveTables.h"
#include "archive/InputBuffer.h"
#include "archive/ZefFormat.h"

namespace zef {

class ZefImgReader {
 public:
  ZefImgReader();
  virtual ~ZefImgReader();
  ZefImgReader(const ZefImgReader&) = delete;
  ZefImgReader& operator=(const ZefImgReader&) = delete;

  // Decoded images in archive order; no value on failure (GetError says why).
  std::optional<std::vector<cv::Mat>> Read(const std::string& fileName);
  // Read of a file holding exactly these bytes; the bytes are not copied.
  std::optional<std::vector<cv::Mat>> ReadMemory(const uint8_t* data, size_t size);
  std::string GetError();
  uint32_t GetStartIndex() const { return decoder_.StartIndex(); }

  // Limits for later reads of untrusted archives; 0 is no limit (the
  // default). An image with more pixels than maxPixelsPerImage, or one that
  // would take the decoded images of a read past maxDecodedBytes (3 bytes a
  // pixel), fails the read with "error in image data (image too large)"
  // before its memory is taken.
  void SetLimits(uint64_t maxPixelsPerImage, uint64_t maxDecodedBytes);

  // What the last header read said. The steps below read the version as
  // Read sets it; a caller that drives them alone sets it with SetVersion.
  int Version() const { return decoder_.Version(); }
  void SetVersion(int version) { decoder_.SetVersion(version); }
  const HeaderBytes& Header() const { return decoder_.Header(); }
  uint32_t ImageCount() const { return decoder_.ImageCount(); }
  uint32_t Width() const { return decoder_.Width(); }
  uint32_t Height() const { return decoder_.Height(); }

  // --- steps of Read, each reading on from the buffer's position ---
  bool ReadHeaderV1(InputBuffer& in) { return decoder_.ReadHeaderV1(in); }
  bool ReadHeader(InputBuffer& in) { return decoder_.ReadHeader(in); }
  bool ReadImageSpecifications(InputBuffer& in, ImageSpecifications& specifications,
                               PaletteIndices paletteIndices) {
    return decoder_.ReadImageSpecifications(in, specifications, paletteIndices);
  }
  // `palettes` must be given and empty.
  bool ReadPalettes(InputBuffer& in, PaletteList* palettes) { return decoder_.ReadPalettes(in, palettes); }
  bool ReadPaletteSpecifications(InputBuffer& in, PaletteSpecifications& specifications) {
    return decoder_.ReadPaletteSpecifications(in, specifications);
  }
  // Colours past the end of the bytes are not held; the stream fails there.
  bool ReadPaletteData(InputBuffer& in, PaletteColours& palette, uint32_t entryCount) {
    return decoder_.ReadPaletteData(in, palette, entryCount);
  }

  // --- image data decoders; on failure no image is kept ---
  std::optional<cv::Mat> ReadPaletteImage(uint32_t width, uint32_t height, uint8_t alphaPosition,
                                          uint8_t alphaMode, uint8_t alphaBits, InputBuffer& in,
                                          const PaletteColours& palette);
  std::optional<cv::Mat> ReadColorImage(uint32_t width, uint32_t height, uint8_t alphaPosition,
                                        InputBuffer& in);
  std::optional<cv::Mat> ReadColorImageRaw(uint32_t width, uint32_t height, uint8_t alphaPosition,
                                           InputBuffer& in);

 private:
  ArchiveDecoder decoder_;
};

}  // namespace zef

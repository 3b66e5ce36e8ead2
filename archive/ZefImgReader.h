// ZefImgReader reads a .zef archive of version 1, 2 or 3 back into 8-bit
// 3-channel images (blue, green, red), in archive order.
//
// An archive is untrusted input. Every check and message follows the rules
// of a binary input stream (see InputBuffer), yet no header field alone
// makes the reader allocate or loop: tables are read in place, and an image
// is created only when the rest of the file can hold its data.
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

#include "archive/ArchiveTables.h"
#include "archive/InputBuffer.h"
#include "archive/ZefFormat.h"

namespace zef {

// Whether the caller of ReadImageSpecifications takes the palette indices.
enum class PaletteIndices { kWithout, kWith };

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
  uint32_t GetStartIndex() const { return startIndex_; }

  // What the last header read said. The steps below read the version as
  // Read sets it; a caller that drives them alone sets it with SetVersion.
  int Version() const { return version_; }
  void SetVersion(int version) { version_ = version; }
  const HeaderBytes& Header() const { return header_; }
  uint32_t ImageCount() const { return imageCount_; }
  uint32_t Width() const { return width_; }
  uint32_t Height() const { return height_; }

  // --- steps of Read, each reading on from the buffer's position ---
  bool ReadHeaderV1(InputBuffer& in);
  bool ReadHeader(InputBuffer& in);
  bool ReadImageSpecifications(InputBuffer& in, ImageSpecifications& specifications,
                               PaletteIndices paletteIndices);
  // `palettes` must be given and empty.
  bool ReadPalettes(InputBuffer& in, PaletteList* palettes);
  bool ReadPaletteSpecifications(InputBuffer& in, PaletteSpecifications& specifications);
  // Colours past the end of the bytes are not held; the stream fails there.
  bool ReadPaletteData(InputBuffer& in, PaletteColours& palette, uint32_t entryCount);

  // --- image data decoders; on failure the image is already released ---
  std::optional<cv::Mat> ReadPaletteImage(uint32_t width, uint32_t height, uint8_t alphaPosition,
                                          uint8_t alphaMode, uint8_t alphaBits, InputBuffer& in,
                                          const PaletteColours& palette);
  std::optional<cv::Mat> ReadColorImage(uint32_t width, uint32_t height, uint8_t alphaPosition,
                                        InputBuffer& in);
  std::optional<cv::Mat> ReadColorImageRaw(uint32_t width, uint32_t height, uint8_t alphaPosition,
                                           InputBuffer& in);

 private:
  std::optional<std::vector<cv::Mat>> ReadArchive(InputBuffer& in);
  bool ReadVersion1(InputBuffer& in, std::vector<cv::Mat>& images);
  bool ReadVersion2(InputBuffer& in, std::vector<cv::Mat>& images);
  bool ReadVersion3(InputBuffer& in, std::vector<cv::Mat>& images);
  // True when the stream stands at the image's offset, at an image marker.
  bool AtImage(InputBuffer& in, uint32_t dataOffset);
  std::optional<cv::Mat> ReadColourWords(uint32_t width, uint32_t height, InputBuffer& in);
  template <typename Runs>
  std::optional<cv::Mat> ReadRuns(Runs& runs, uint32_t width, uint32_t height,
                                  InputBuffer& in);
  // Records the message; returns false so that steps can `return Fail(...)`.
  bool Fail(const char* message);

  std::string error_;
  // Blue first and red third in every decoded pixel; never changed.
  const bool blueFirst_ = true;
  int version_ = -1;
  HeaderBytes header_ = {255, 255, 255, 255, 255, 255, 255};
  uint32_t startIndex_ = 0;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  uint32_t imageCount_ = 0;
};

}  // namespace zef

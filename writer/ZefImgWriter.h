// ZefImgWriter turns a list of 8-bit 3-channel images (blue, green, red) and
// an optional list of 8-bit 1-channel masks into one .zef archive of
// version 2 (direct colour) or version 3 (one palette per image). It keeps
// the settings and the pending message between calls; the encoding itself
// is that of EncodeMats (writer/ZefEncodeMat.h).
//
// No member throws. A failing member records its message (replacing any
// earlier one) and returns false or no value; GetError()
// hands the message out and empties it. Images and masks always stay the
// caller's: the writer reads them and never keeps them.
#pragma once

#include <opencv2/core.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/ZefFormat.h"
#include "archive/ZefOptions.h"

namespace zef {

// Palette colours (0x0RGB with the swap flag on) in order of first appearance.
using Palette = std::vector<uint16_t>;

class ZefImgWriter {
 public:
  ZefImgWriter();
  virtual ~ZefImgWriter();
  ZefImgWriter(const ZefImgWriter&) = delete;
  ZefImgWriter& operator=(const ZefImgWriter&) = delete;

  // --- settings ---
  // Accepts 2 and 3 and resets every setting (start index and alpha
  // position included) to that version's defaults; any other value only
  // records a message.
  void SetVersion(int version);
  void SetStartIndex(int32_t startIndex);
  // Number of alpha values of version 3: 0 (none), 2 (1 bit) or 4 (2 bits).
  // Puts the alpha bits at the high end again.
  void setAlpha(int alphaValues);
  // Where later writes put the alpha bits of a stored value.
  void SetAlphaPosition(AlphaPosition position);
  // Ceiling of the archive's size in bytes; Write fails with
  // "archive too large" instead of passing it. Defaults to 4 GiB, the
  // largest size that u32 offsets address; firmware with less flash may
  // lower it.
  void SetArchiveSizeLimit(uint64_t bytes) { sizeLimit_ = bytes; }

  std::string GetError();
  bool HasError() const;
  void SetError(const std::string& message);

  uint16_t Version() const { return version_; }
  const HeaderBytes& Header() const { return header_; }
  int32_t StartIndex() const { return startIndex_; }
  bool SwapFlag() const { return swapFlag_; }
  // The settings as options of the core calls.
  Options Settings() const;

  // --- write ---
  // Writes the archive. The lists are copies; the images are only read.
  // False with a message pending on any failure; a partly written file
  // stays on disk, a refused input leaves an existing one untouched.
  bool Write(const std::string& fileName, std::vector<cv::Mat> images, std::vector<cv::Mat> masks);
  // The same archive in memory; no value on failure.
  std::optional<std::vector<uint8_t>> WriteMemory(const std::vector<cv::Mat>& images,
                                                  const std::vector<cv::Mat>& masks);

  // --- input checks, as Write runs them ---
  bool CheckImages(const std::vector<cv::Mat>& images, const std::vector<cv::Mat>& masks);
  // An empty mask means "no mask".
  bool CheckImage(const cv::Mat& image, const cv::Mat& mask, int imageNumber);

  // --- palettes ---
  // The image's distinct palette colours in order of first appearance; no
  // value when the image is not 8-bit 3-channel or memory runs out.
  std::optional<Palette> BuildPalette(const cv::Mat& image);

 private:
  uint16_t version_ = kVersion2;
  int alphaValues_ = 4;
  AlphaPosition alphaPosition_ = AlphaPosition::kHigh;
  HeaderBytes header_{};
  int32_t startIndex_ = 0;
  bool swapFlag_ = true;
  uint64_t sizeLimit_ = kMaxArchiveSize;
  std::string error_;
};

}  // namespace zef

// ZefImgWriter turns a list of 8-bit 3-channel images (blue, green, red) and
// an optional list of 8-bit 1-channel masks into one .zef archive of
// version 2 (direct colour) or version 3 (one palette per image).
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

#include "archive/OutputFile.h"
#include "archive/ZefFormat.h"

namespace zef {

// Palette colours (0x0RGB with the swap flag on) in order of first appearance.
using Palette = std::vector<uint16_t>;

class ZefImgWriter {
 public:
  ZefImgWriter();
  virtual ~ZefImgWriter();
  ZefImgWriter(const ZefImgWriter&) = delete;
  ZefImgWriter& operator=(const ZefImgWriter&) = delete;

  // --- object and settings ---
  // Accepts 2 and 3 and resets every setting (start index included) to that
  // version's defaults; any other value only records a message.
  void SetVersion(int version);
  void SetStartIndex(int32_t startIndex);
  // Number of alpha values of version 3: 0 (none), 2 (1 bit) or 4 (2 bits).
  void setAlpha(int alphaValues);
  std::string GetError();
  bool HasError() const;
  void SetError(const std::string& message);

  uint16_t Version() const { return version_; }
  const HeaderBytes& Header() const { return header_; }
  int32_t StartIndex() const { return startIndex_; }
  bool SwapFlag() const { return swapFlag_; }

  // Ceiling of the archive's size in bytes; Write fails with
  // "archive too large" instead of passing it. Defaults to 4 GiB, the
  // largest size that u32 offsets address; firmware with less flash may
  // lower it.
  void SetArchiveSizeLimit(uint64_t bytes) { sizeLimit_ = bytes; }

  // --- write ---
  // Writes the archive. The lists are copies; the images are only read.
  // False with a message pending on any failure; a partly written file
  // stays on disk.
  bool Write(const std::string& fileName, std::vector<cv::Mat> images,
             std::vector<cv::Mat> masks);
  bool WriteHeader(OutputFile& out, const std::vector<cv::Mat>& images);
  bool WriteImageSpecifications(OutputFile& out, const std::vector<cv::Mat>& images,
                                const std::vector<int32_t>* paletteMapping);

  // --- input checks ---
  bool CheckImages(const std::vector<cv::Mat>& images, const std::vector<cv::Mat>& masks);
  // An empty mask means "no mask".
  bool CheckImage(const cv::Mat& image, const cv::Mat& mask, int imageNumber);

  // --- palettes ---
  // The image's distinct palette colours; no value only when memory runs out.
  std::optional<Palette> BuildPalette(const cv::Mat& image);
  // Index of the first entry equal to the colour, or -1.
  int FindColor(uint16_t colour, const Palette& palette) const;
  bool CreatePalettes(const std::vector<cv::Mat>& images, std::vector<Palette>* palettes,
                      std::vector<int32_t>* paletteMapping);
  bool CreateIndexImages(const std::vector<cv::Mat>& images, const std::vector<Palette>* palettes,
                         const std::vector<int32_t>* paletteMapping,
                         std::vector<cv::Mat>* indexImages);
  // An 8-bit 1-channel image of palette indices; no value on failure.
  std::optional<cv::Mat> CreateIndexImage(const cv::Mat& image, const Palette& palette, int imageNumber);
  bool WritePalettes(OutputFile& out, const std::vector<Palette>& palettes);
  bool WritePaletteSpecifications(OutputFile& out, const std::vector<Palette>& palettes);
  bool WritePaletteData(OutputFile& out, const Palette& palette);

  // --- alpha values ---
  // The alpha code of one mask byte for a pixel code, by alpha bits and mode.
  uint8_t PixelCodeAlpha(uint8_t maskByte) const;
  // The 4-bit alpha nibble of one mask byte for a colour word.
  uint8_t ColourWordAlpha(uint8_t maskByte) const;
  // Packs a palette index and alpha code; false when the alpha bits setting
  // cannot carry a mask.
  bool PackPixelCode(uint8_t paletteIndex, uint8_t alphaCode, uint8_t* pixelCode) const;
  uint16_t PackColourWord(uint16_t paletteColour, uint8_t alphaNibble) const;
  // The 12-bit palette colour of a blue, green, red pixel, by the swap flag.
  uint16_t PaletteColour(const uint8_t* pixel) const {
    // Only the high nibble of each channel survives, cut rather than rounded.
    const uint16_t first = pixel[0] >> 4, green = pixel[1] >> 4, third = pixel[2] >> 4;
    return swapFlag_ ? uint16_t(third << 8 | green << 4 | first)
                     : uint16_t(first << 8 | green << 4 | third);
  }

  // --- line encoder ---
  // Run-length image data of one index image (version 3) or source image
  // (version 2); an empty mask means "no mask".
  bool WritePaletteImage(const cv::Mat& indexImage, const cv::Mat& mask, OutputFile& out);
  bool WriteColorImage(const cv::Mat& image, const cv::Mat& mask, OutputFile& out);

 private:
  bool WriteVersion2(const std::string& fileName, const std::vector<cv::Mat>& images,
                     const std::vector<cv::Mat>& masks);
  bool WriteVersion3(const std::string& fileName, const std::vector<cv::Mat>& images,
                     const std::vector<cv::Mat>& masks);
  // What Write keeps of one image between reading it and writing it: its
  // palette and either its finished image data or its index image.
  struct PreparedImage {
    Palette palette;
    std::vector<uint8_t> data;  // empty: write the index image
    cv::Mat indexImage;
  };
  // CreatePalettes followed by CreateIndexImages, with their results and
  // messages, but reading each image once and coding it at once where it
  // can be.
  bool PrepareImages(const std::vector<cv::Mat>& images, const std::vector<cv::Mat>& masks,
                     std::vector<PreparedImage>* prepared);
  bool OpenDestination(OutputFile& out, const std::string& fileName);
  // Fills in the dataOffset of every image record once the images are written.
  void PatchImageOffsets(OutputFile& out, uint64_t headerEnd, const std::vector<cv::Mat>& images,
                         const std::vector<int32_t>* paletteMapping,
                         const std::vector<uint64_t>& offsets);
  // One record of the image table, and one palette record.
  void WriteImageRecord(OutputFile& out, const std::vector<cv::Mat>& images,
                        const std::vector<int32_t>* paletteMapping, size_t n, uint32_t dataOffset);
  void WritePaletteRecord(OutputFile& out, const std::vector<Palette>& palettes, size_t n,
                          uint32_t dataOffset);
  bool FinishDestination(OutputFile& out);

 protected:
  // Derived writers may change the header settings directly, for example
  // to put the alpha bits at the low end of a stored value.
  HeaderBytes header_{};

 private:
  uint16_t version_ = kVersion2;
  int32_t startIndex_ = 0;
  bool swapFlag_ = true;
  uint64_t sizeLimit_ = kMaxArchiveSize;
  std::string error_;
};

}  // namespace zef

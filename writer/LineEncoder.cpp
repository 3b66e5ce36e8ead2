// Run-length image data: a u32 image entry count, then per line a u16 line
// entry count and its runs. Counts are written as zeros first and filled in
// by seeking back, so runs go out as soon as a line is cut.
#include <array>

#include "writer/PixelRuns.h"
#include "writer/RunEncoding.h"
#include "writer/ZefImgWriter.h"

namespace zef {

namespace {

constexpr uint8_t kOpaqueNibble = 15;

// Fills in the image entry count in front of the lines just written.
void PatchImageEntryCount(OutputFile& out, uint32_t imageRuns, int height, size_t runSize) {
  const int64_t behind = int64_t(imageRuns) * int64_t(runSize) + int64_t(kLineEntryCountSize) * height;
  if (out.Good()) out.SeekRelative(-(int64_t(kImageEntryCountSize) + behind));
  out.WriteU32(imageRuns);
  if (out.Good()) out.SeekRelative(behind);
}

// The encoders are public: refuse layouts that would make them read past a
// row instead of trusting every caller to have run the input checks.
bool FitsEncoder(const cv::Mat& image, int type, const cv::Mat& mask) {
  if (image.dims > 2 || (!image.empty() && image.type() != type)) return false;
  return mask.empty() || (mask.type() == CV_8UC1 && mask.size() == image.size());
}

}  // namespace

bool ZefImgWriter::WritePaletteImage(const cv::Mat& indexImage, const cv::Mat& mask,
                                     OutputFile& out) {
  if (!FitsEncoder(indexImage, CV_8UC1, mask)) {
    SetError("WritePaletteImage: index image or mask of the wrong layout");
    return false;
  }
  const bool hasMask = !mask.empty();
  out.WriteU32(0);
  PixelCodeTable codes;
  if (hasMask && !codes.Fill(*this) && indexImage.rows > 0 && indexImage.cols > 0) {
    out.WriteU16(0);
    SetError("AlphaMode not implemented...");
    return false;
  }
  const int width = indexImage.cols;
  std::vector<uint8_t> line(kLineEntryCountSize + size_t(width) * kPixelCodeRunSize);
  uint32_t imageRuns = 0;
  for (int y = 0; y < indexImage.rows; ++y) {
    const uint8_t* indices = indexImage.ptr<uint8_t>(y);
    LineRuns<uint8_t> runs(line.data());
    if (hasMask) {
      // Stretches of equal index and mask bytes share one code; neighbouring
      // stretches whose mask bytes differ may still share it, and join.
      const uint8_t* maskRow = mask.ptr<uint8_t>(y);
      for (int x = 0; x < width;) {
        const int end = EndOfSamePair(indices, maskRow, x, width);
        runs.Add(codes.Code(indices[x], maskRow[x]), end - x);
        x = end;
      }
    } else {
      for (int x = 0; x < width;) {
        const int end = EndOfSameByte(indices, x, width);
        runs.Add(indices[x], end - x);
        x = end;
      }
    }
    imageRuns += runs.Finish();
    out.WriteBytes(line.data(), runs.Size());
  }
  PatchImageEntryCount(out, imageRuns, indexImage.rows, kPixelCodeRunSize);
  return true;
}

bool ZefImgWriter::WriteColorImage(const cv::Mat& image, const cv::Mat& mask, OutputFile& out) {
  if (!FitsEncoder(image, CV_8UC3, mask)) {
    SetError("WriteColorImage: image or mask of the wrong layout");
    return false;
  }
  const bool hasMask = !mask.empty();
  out.WriteU32(0);
  std::array<uint8_t, 256> alphaNibbleOf;
  for (int m = 0; m < 256; ++m) alphaNibbleOf[size_t(m)] = ColourWordAlpha(uint8_t(m));
  std::vector<uint8_t> line(kLineEntryCountSize + size_t(image.cols) * kColourWordRunSize);
  std::vector<uint16_t> words(size_t(image.cols));
  uint32_t imageRuns = 0;
  for (int y = 0; y < image.rows; ++y) {
    const uint8_t* pixel = image.ptr<uint8_t>(y);
    const uint8_t* maskRow = hasMask ? mask.ptr<uint8_t>(y) : nullptr;
    for (int x = 0; x < image.cols; ++x, pixel += 3) {
      const uint8_t alpha = hasMask ? alphaNibbleOf[maskRow[x]] : kOpaqueNibble;
      words[size_t(x)] = PackColourWord(PaletteColour(pixel), alpha);
    }
    LineRuns<uint16_t> runs(line.data());
    for (int x = 0; x < image.cols;) {
      int end = x + 1;
      while (end < image.cols && words[size_t(end)] == words[size_t(x)]) ++end;
      runs.Add(words[size_t(x)], end - x);
      x = end;
    }
    imageRuns += runs.Finish();
    out.WriteBytes(line.data(), runs.Size());
  }
  PatchImageEntryCount(out, imageRuns, image.rows, kColourWordRunSize);
  return true;
}

}  // namespace zef

// Run-length image data: a u32 image entry count, then per line a u16 line
// entry count and its runs. Counts are written as zeros first and filled in
// by seeking back, so runs go out as soon as a line is cut.
#include <array>

#include "writer/ZefImgWriter.h"

namespace zef {

namespace {

constexpr uint8_t kOpaqueNibble = 15;

// Cuts one line of stored values into runs of at most kMaxRunLength and
// writes them behind the line's entry count. Returns the number of runs.
template <typename Value>
uint32_t WriteLine(OutputFile& out, const Value* values, int width, std::vector<uint8_t>& line) {
  constexpr size_t runSize = sizeof(Value) + 1;
  line.resize(kLineEntryCountSize + size_t(width) * runSize);
  uint8_t* run = line.data() + kLineEntryCountSize;
  uint32_t runs = 0;
  for (int x = 0; x < width;) {
    const Value value = values[x];
    int length = 1;
    while (x + length < width && length < int(kMaxRunLength) && values[x + length] == value) {
      ++length;
    }
    run[0] = uint8_t(value);
    if constexpr (sizeof(Value) == 2) run[1] = uint8_t(value >> 8);
    run[sizeof(Value)] = uint8_t(length);
    run += runSize;
    ++runs;
    x += length;
  }
  line[0] = uint8_t(runs);
  line[1] = uint8_t(runs >> 8);
  out.WriteBytes(line.data(), size_t(run - line.data()));
  return runs;
}

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
  // A pixel code is index and alpha code packed; with a mask, look both up
  // in one table built from the packing rule.
  std::array<uint8_t, 256> alphaCodeOf{};
  std::array<uint8_t, 4 * 256> pixelCodeOf{};
  if (hasMask) {
    uint8_t probe;
    if (!PackPixelCode(0, 0, &probe) && indexImage.rows > 0 && indexImage.cols > 0) {
      out.WriteU16(0);
      SetError("AlphaMode not implemented...");
      return false;
    }
    for (int m = 0; m < 256; ++m) alphaCodeOf[size_t(m)] = PixelCodeAlpha(uint8_t(m));
    for (int a = 0; a < 4; ++a) {
      for (int i = 0; i < 256; ++i) PackPixelCode(uint8_t(i), uint8_t(a), &pixelCodeOf[size_t(a * 256 + i)]);
    }
  }
  std::vector<uint8_t> line;
  std::vector<uint8_t> codes(hasMask ? size_t(indexImage.cols) : 0);
  uint32_t imageRuns = 0;
  for (int y = 0; y < indexImage.rows; ++y) {
    const uint8_t* indices = indexImage.ptr<uint8_t>(y);
    if (hasMask) {
      const uint8_t* maskRow = mask.ptr<uint8_t>(y);
      for (int x = 0; x < indexImage.cols; ++x) {
        codes[size_t(x)] = pixelCodeOf[size_t(alphaCodeOf[maskRow[x]]) * 256 + indices[x]];
      }
      indices = codes.data();
    }
    imageRuns += WriteLine(out, indices, indexImage.cols, line);
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
  std::vector<uint8_t> line;
  std::vector<uint16_t> words(size_t(image.cols));
  uint32_t imageRuns = 0;
  for (int y = 0; y < image.rows; ++y) {
    const uint8_t* pixel = image.ptr<uint8_t>(y);
    const uint8_t* maskRow = hasMask ? mask.ptr<uint8_t>(y) : nullptr;
    for (int x = 0; x < image.cols; ++x, pixel += 3) {
      const uint8_t alpha = hasMask ? alphaNibbleOf[maskRow[x]] : kOpaqueNibble;
      words[size_t(x)] = PackColourWord(PaletteColour(pixel), alpha);
    }
    imageRuns += WriteLine(out, words.data(), image.cols, line);
  }
  PatchImageEntryCount(out, imageRuns, image.rows, kColourWordRunSize);
  return true;
}

}  // namespace zef

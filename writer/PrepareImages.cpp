// The version 3 Write reads every image once: palette, indices and runs
// come out of one pass over stretches of equal pixels, and the finished
// image data waits in memory until the file is opened. Sprites code to a
// small fraction of their pixels; an image that would not (mean run below
// two pixels) keeps an index image instead, so memory never exceeds what
// separate palette and index passes would hold.
#include <algorithm>
#include <array>
#include <memory>
#include <new>
#include <optional>

#include "writer/ImageRules.h"
#include "writer/PixelRuns.h"
#include "writer/RunEncoding.h"
#include "writer/ZefImgWriter.h"

namespace zef {

namespace {

constexpr uint16_t kNotInPalette = 0xFFFF;

const cv::Mat kNoMask;

// Palette positions by colour for the image being coded; emptied again
// after each image through its palette.
using IndexTable = std::array<uint16_t, kColourTableSize>;

// Codes one image into `data`, the bytes WritePaletteImage writes for its
// index image. False when the data would pass `budget` bytes; the palette
// is then incomplete.
bool CodeImage(const ZefImgWriter& writer, const cv::Mat& image, const cv::Mat& mask,
               const PixelCodeTable* codes, size_t budget, IndexTable& indexOf, Palette& palette,
               std::vector<uint8_t>& data) {
  const int width = image.cols;
  data.assign(kImageEntryCountSize, 0);
  std::vector<uint8_t> line(kLineEntryCountSize + size_t(width) * kPixelCodeRunSize);
  uint32_t imageRuns = 0;
  for (int y = 0; y < image.rows; ++y) {
    const uint8_t* row = image.ptr<uint8_t>(y);
    const uint8_t* maskRow = codes != nullptr ? mask.ptr<uint8_t>(y) : nullptr;
    LineRuns<uint8_t> runs(line.data());
    int maskEnd = 0;  // end of the stretch of equal mask bytes last found
    for (int x = 0; x < width;) {
      const int end = EndOfSameBgr(row, x, width);
      const uint16_t colour = writer.PaletteColour(row + size_t(x) * 3);
      if (indexOf[colour] == kNotInPalette) {
        indexOf[colour] = uint16_t(palette.size());
        palette.push_back(colour);
      }
      const uint8_t index = uint8_t(indexOf[colour]);
      if (codes == nullptr) {
        runs.Add(index, end - x);
      } else {
        // The mask may change inside a stretch of one colour, and one mask
        // stretch may span several colours.
        for (int m = x; m < end;) {
          if (m >= maskEnd) maskEnd = EndOfSameByte(maskRow, m, width);
          const int pieceEnd = std::min(maskEnd, end);
          runs.Add(codes->Code(index, maskRow[m]), pieceEnd - m);
          m = pieceEnd;
        }
      }
      x = end;
    }
    imageRuns += runs.Finish();
    if (data.size() + runs.Size() > budget) return false;
    data.insert(data.end(), line.data(), line.data() + runs.Size());
  }
  for (size_t i = 0; i < kImageEntryCountSize; ++i) data[i] = uint8_t(imageRuns >> (8 * i));
  return true;
}

}  // namespace

bool ZefImgWriter::PrepareImages(const std::vector<cv::Mat>& images,
                                 const std::vector<cv::Mat>& masks,
                                 std::vector<PreparedImage>* prepared) {
  // The palette pass refuses a layout before any index image is made.
  for (const cv::Mat& image : images) {
    if (!IsSourceLayout(image)) {
      BuildPalette(image);  // records why
      return false;
    }
  }
  try {
    PixelCodeTable codes;
    const bool masksCoded = codes.Fill(*this);
    auto indexOf = std::make_unique<IndexTable>();
    indexOf->fill(kNotInPalette);
    prepared->reserve(images.size());
    for (size_t n = 0; n < images.size(); ++n) {
      const cv::Mat& image = images[n];
      const cv::Mat& mask = masks.empty() ? kNoMask : masks[n];
      PreparedImage entry;
      // Runs may take at most one byte per pixel, as an index image does.
      const size_t budget = kImageEntryCountSize + size_t(image.rows) * kLineEntryCountSize + image.total();
      // A mask the alpha setting cannot carry is refused by WritePaletteImage,
      // once the file is open, as it always has been.
      const bool coded = (mask.empty() || masksCoded) &&
                         CodeImage(*this, image, mask, mask.empty() ? nullptr : &codes, budget,
                                   *indexOf, entry.palette, entry.data);
      for (uint16_t colour : entry.palette) (*indexOf)[colour] = kNotInPalette;
      if (coded && !PaletteRefused(entry.palette.size(), header_.alphaBits)) {
        prepared->push_back(std::move(entry));
        continue;
      }
      entry.data = {};
      if (!coded) {
        std::optional<Palette> palette = BuildPalette(image);
        if (!palette) return false;
        entry.palette = std::move(*palette);
      }
      // Records why a palette is refused.
      std::optional<cv::Mat> indexImage = CreateIndexImage(image, entry.palette, int(n));
      if (!indexImage) return false;
      entry.indexImage = std::move(*indexImage);
      prepared->push_back(std::move(entry));
    }
    return true;
  } catch (const cv::Exception&) {
  } catch (const std::bad_alloc&) {
  }
  return false;
}

}  // namespace zef

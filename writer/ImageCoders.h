// The two run-length coders of image data: pixel codes from a palette
// (version 3) and colour words (version 2). Each hands every finished line
// (its u16 entry count and its runs) to `emit` and returns the image's run
// count, which the caller puts in front of the lines.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "writer/EncoderSettings.h"
#include "writer/PixelRuns.h"
#include "writer/RunEncoding.h"
#include "writer/ZefEncode.h"

namespace zef {

inline constexpr uint16_t kNotInPalette = 0xFFFF;

// Palette positions by colour for the image being coded: kNotInPalette
// for colours not met yet. Emptied again after each image through its
// palette.
using IndexTable = std::array<uint16_t, kColourTableSize>;

inline const uint8_t* RowOf(const ImageView& image, int y) { return image.data + size_t(y) * image.stride; }
inline const uint8_t* RowOf(const MaskView& mask, int y) { return mask.data + size_t(y) * mask.stride; }

// Codes one image from its pixels. Colours not in `indexOf` are appended
// to `palette` in order of first appearance; an index past 255 wraps, and
// the caller refuses such a palette. `codes` null: no mask.
template <typename Emit>
uint32_t CodePaletteImage(const ImageView& image, const MaskView* mask, const PixelCodeTable* codes,
                          bool swapFlag, IndexTable& indexOf, std::vector<uint16_t>& palette,
                          std::vector<uint8_t>& line, Emit& emit) {
  const int width = image.width;
  line.resize(kLineEntryCountSize + size_t(width) * kPixelCodeRunSize);
  uint32_t imageRuns = 0;
  for (int y = 0; y < image.height; ++y) {
    const uint8_t* row = RowOf(image, y);
    const uint8_t* maskRow = codes != nullptr ? RowOf(*mask, y) : nullptr;
    LineRuns<uint8_t> runs(line.data());
    int maskEnd = 0;  // end of the stretch of equal mask bytes last found
    for (int x = 0; x < width;) {
      const int end = EndOfSameBgr(row, x, width);
      const uint16_t colour = PaletteColour(row + size_t(x) * 3, swapFlag);
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
    emit(line.data(), runs.Size());
  }
  return imageRuns;
}

// Codes one image as colour words; `mask` null: every pixel opaque.
template <typename Emit>
uint32_t CodeColourImage(const ImageView& image, const MaskView* mask, const HeaderBytes& header,
                         bool swapFlag, std::vector<uint8_t>& line, Emit& emit) {
  std::array<uint8_t, 256> alphaNibbleOf;
  for (int m = 0; m < 256; ++m) alphaNibbleOf[size_t(m)] = ColourWordAlpha(header, uint8_t(m));
  line.resize(kLineEntryCountSize + size_t(image.width) * kColourWordRunSize);
  std::vector<uint16_t> words(size_t(image.width));
  uint32_t imageRuns = 0;
  for (int y = 0; y < image.height; ++y) {
    const uint8_t* pixel = RowOf(image, y);
    const uint8_t* maskRow = mask != nullptr ? RowOf(*mask, y) : nullptr;
    for (int x = 0; x < image.width; ++x, pixel += 3) {
      const uint8_t alpha = maskRow != nullptr ? alphaNibbleOf[maskRow[x]] : kOpaqueNibble;
      words[size_t(x)] = PackColourWord(header, PaletteColour(pixel, swapFlag), alpha);
    }
    LineRuns<uint16_t> runs(line.data());
    for (int x = 0; x < image.width;) {
      int end = x + 1;
      while (end < image.width && words[size_t(end)] == words[size_t(x)]) ++end;
      runs.Add(words[size_t(x)], end - x);
      x = end;
    }
    imageRuns += runs.Finish();
    emit(line.data(), runs.Size());
  }
  return imageRuns;
}

}  // namespace zef

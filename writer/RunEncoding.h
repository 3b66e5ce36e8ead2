// Pieces shared by the writer's run-length encoders: cutting a line into
// runs, and the pixel code of an index and a mask byte.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

#include "archive/ZefFormat.h"
#include "writer/EncoderSettings.h"

namespace zef {

// Cuts stretches of equal values into runs of at most kMaxRunLength, into a
// line buffer (room for the entry count and one run per pixel) behind the
// line's entry count. Stretches may come in pieces: a piece of the open
// stretch's value extends it.
template <typename Value>
class LineRuns {
 public:
  explicit LineRuns(uint8_t* line) : line_(line), next_(line + kLineEntryCountSize) {}

  void Add(Value value, int length) {
    if (length_ != 0 && value == value_) {
      length_ += length;
      return;
    }
    Close();
    value_ = value;
    length_ = length;
  }

  // Fills in the entry count; returns the number of runs.
  uint32_t Finish() {
    Close();
    line_[0] = uint8_t(runs_);
    line_[1] = uint8_t(runs_ >> 8);
    return runs_;
  }
  // Bytes of the line so far, entry count included.
  size_t Size() const { return size_t(next_ - line_); }

 private:
  void Close() {
    while (length_ > 0) {
      const int piece = std::min(length_, int(kMaxRunLength));
      next_[0] = uint8_t(value_);
      if constexpr (sizeof(Value) == 2) next_[1] = uint8_t(value_ >> 8);
      next_[sizeof(Value)] = uint8_t(piece);
      next_ += sizeof(Value) + 1;
      ++runs_;
      length_ -= piece;
    }
  }

  uint8_t* line_;
  uint8_t* next_;
  uint32_t runs_ = 0;
  Value value_{};
  int length_ = 0;
};

// Pixel codes of every palette index and mask byte, from the alpha and
// packing rules, so that coding a pixel is two look-ups.
class PixelCodeTable {
 public:
  // False when the alpha bits setting cannot carry a mask.
  bool Fill(const HeaderBytes& header) {
    if (!PixelCodesCarryAlpha(header)) return false;
    for (int m = 0; m < 256; ++m) alphaCodeOf_[size_t(m)] = PixelCodeAlpha(header, uint8_t(m));
    for (int a = 0; a < kAlphaCodes; ++a) {
      for (int i = 0; i < 256; ++i) codeOf_[size_t(a * 256 + i)] = PackPixelCode(header, uint8_t(i), uint8_t(a));
    }
    return true;
  }
  uint8_t Code(uint8_t paletteIndex, uint8_t maskByte) const {
    return codeOf_[size_t(alphaCodeOf_[maskByte]) * 256 + paletteIndex];
  }

 private:
  static constexpr int kAlphaCodes = 4;  // two alpha bits at most
  std::array<uint8_t, 256> alphaCodeOf_{};
  std::array<uint8_t, kAlphaCodes * 256> codeOf_{};
};

}  // namespace zef

// The palette search behind Reduce: a variance-minimising split of the
// 16 x 16 x 16 cube of stored colours, refined by weighted k-means passes
// and snapped to the levels a decoder shows. Internal to the module.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace zef::quantize::detail {

inline constexpr int kLevels = 16;
inline constexpr int kBins = kLevels * kLevels * kLevels;

// A stored colour: channel 0 (blue) in bits 8-11, 1 (green) in 4-7, 2 (red) in 0-3.
inline int BinOf(int level0, int level1, int level2) { return level0 << 8 | level1 << 4 | level2; }
inline int LevelIn(int bin, int channel) { return bin >> (8 - 4 * channel) & 15; }

// What the pixels of one stored colour hold, in 8-bit channel values.
// Weights are mask bytes (255 for a fully visible pixel), so sums stay exact.
struct BinMoments {
  uint16_t bin = 0;
  int64_t weight = 0;
  std::array<int64_t, 3> sum{};  // weighted channel sums
  int64_t squares = 0;           // weighted sum of squared channel values
};

struct Colour {
  float channel[3];
};

// A nearest-entry search over palette colours in 8-bit units.
class NearestEntry {
 public:
  explicit NearestEntry(const std::vector<Colour>& entries);
  // Index of the entry nearest to the colour (squared distance); the
  // lowest index among equals.
  int Find(const Colour& colour) const;

 private:
  std::vector<float> c0_, c1_, c2_;
  std::vector<int> index_;
};

// At most maxColors stored colours (bins), sorted ascending, for the
// weighted histogram given as its occupied bins in any order (each bin at
// most once). Deterministic. Empty when no bin has weight.
// `entries`, when given, takes per histogram entry the palette position
// nearest to the mean of its pixels (-1 for one without weight).
std::vector<uint16_t> SearchPalette(const std::vector<BinMoments>& histogram, int maxColors,
                                    std::vector<int16_t>* entries = nullptr);

// The 8-bit colour a decoder shows for a bin.
Colour ShownColour(int bin);

}  // namespace zef::quantize::detail

// What the writer's passes over an image rely on: the layout they read,
// and how many palette entries a pixel code can address.
#pragma once

#include <opencv2/core.hpp>

#include <cstddef>
#include <cstdint>

namespace zef {

// The passes read 3 bytes per pixel; anything else would be read past its
// rows.
inline bool IsSourceLayout(const cv::Mat& image) {
  return image.dims <= 2 && (image.empty() || image.type() == CV_8UC3);
}

// An index byte addresses this many palette entries.
inline constexpr size_t kMostIndices = 256;

// Most palette entries a pixel code can address once the alpha bits are
// packed beside the index; 0 means the setting has no limit.
inline size_t PaletteLimit(uint8_t alphaBits) {
  switch (alphaBits) {
    case 0: return 256;
    case 1: return 128;
    case 2: return 64;
    default: return 0;
  }
}

// True when CreateIndexImage refuses a palette of this size.
inline bool PaletteRefused(size_t entries, uint8_t alphaBits) {
  const size_t limit = PaletteLimit(alphaBits);
  return (limit != 0 && entries > limit) || entries > kMostIndices;
}

}  // namespace zef

// Deterministic icon-like pictures with an alpha channel: anti-aliased
// shapes filled with gradients, soft shadows, outlines and glossy
// highlights, 16 to 48 px. The content that needs colour reduction before
// it fits a palette of 64 entries with alpha.
#pragma once

#include <opencv2/core.hpp>

#include <cstdint>

namespace zefbench {

struct Icon {
  cv::Mat bgr;    // 8-bit, 3 channels
  cv::Mat alpha;  // 8-bit, 1 channel
};

// Icon `number` of the set; the same number gives the same icon on every
// run. side 0 picks one of the set's sizes (16 to 48 px) by the number.
Icon MakeIcon(uint32_t number, int side = 0);

// The icon as one 4-channel picture (blue, green, red, alpha) for PNG files.
cv::Mat ToBgra(const Icon& icon);

}  // namespace zefbench

// Reduction to N-bit grey for mono and grey displays (N = 1, 2, 4 or 8):
// each pixel takes one of the 2^N levels k x 255 / (2^N - 1), chosen from
// its luma, nearest or dithered, and keeps its alpha. The palette holds
// (level, alpha) pairs as grey RGBA entries, so a version 4 archive of
// the result shows nothing but the levels.
//
// Nothing here throws. ReduceGrey answers with no value when its input is
// not what it takes or memory runs out.
#pragma once

#include <opencv2/core.hpp>

#include <optional>

#include "quantize/ReduceRgba.h"

namespace zef::quantize {

// Luma from BT.601 weights, rounded to the nearest integer:
// Y = (299 R + 587 G + 114 B + 500) / 1000. bgr: CV_8UC3; the result is
// CV_8UC3 with Y in all three channels, the picture the levels are
// measured against; empty for any other type. Throws only what the image
// library throws when memory runs out.
cv::Mat GreyOf(const cv::Mat& bgr);

enum class GreyDither {
  kNone,            // the nearest level
  kFloydSteinberg,  // error diffusion, left to right and top to bottom
  kOrdered,         // an 8 x 8 Bayer threshold map from the image's top-left corner
};

struct GreyOptions {
  int bits = 1;  // 1, 2, 4 or 8
  GreyDither dither = GreyDither::kNone;
  // Floyd-Steinberg: the share of each pixel's error passed on, above 0
  // and at most 1.
  float strength = 1;
  // 8 bits only, when more (grey, alpha) pairs are used than a palette
  // holds: the composite PSNR the palette search aims for.
  double quality = 40;
};

// grey: CV_8UC3 of three equal channels (GreyOf); alpha: CV_8UC1 of the
// same size, or empty for opaque. Pixels of alpha 0 take the transparent
// entry and pass no error on. When the pairs in use exceed 256, the alpha
// of visible pixels is rounded to fewer values (below 8 bits, to
// floor(255 / 2^N) steps, alpha 0 kept), or at 8 bits the palette search
// of ReduceRgba picks the entries, which stay grey.
// `reduced` is true when some pixel does not show its grey exactly.
// Deterministic; no value for wrong types or sizes, bits other than 1, 2,
// 4 or 8, or a strength outside (0, 1].
std::optional<RgbaResult> ReduceGrey(const cv::Mat& grey, const cv::Mat& alpha, const GreyOptions& options);

}  // namespace zef::quantize

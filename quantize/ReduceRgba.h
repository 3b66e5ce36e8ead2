// Colour reduction to palettes of 8-bit RGBA entries (up to 256), chosen
// per image for a composite PSNR target.
//
// The error that counts is the composite one (quantize/CompositePsnr.h):
// a colour's error weighs in proportion to its alpha, and the error of a
// wrong alpha in proportion to what it lets through. Both are one squared
// distance after a linear map of the premultiplied colour, so the palette
// search is a plain weighted one in that space, and its variance is the
// composite error itself. Pixels whose alpha is 0 all take one transparent
// entry (0, 0, 0, 0).
//
// Nothing here throws. ReduceRgba answers with no value when its input is
// not what it takes or memory runs out.
#pragma once

#include <opencv2/core.hpp>

#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "quantize/CompositePsnr.h"

namespace zef::quantize {

struct RgbaEntry {
  uint8_t red = 0, green = 0, blue = 0, alpha = 0;
  friend bool operator==(const RgbaEntry&, const RgbaEntry&) = default;
};

struct RgbaOptions {
  // Composite PSNR in dB that the image should reach: the smallest palette
  // that reaches it is chosen. +infinity asks for no error: the exact
  // colours when they fit.
  double quality = 40;
  // Most entries, the transparent one included: 1 to 256. An image that
  // cannot reach the quality within the cap takes the cap's best palette.
  int maxColors = 256;
};

struct RgbaResult {
  int width = 0;
  int height = 0;
  // Entries in no particular order, each used by some pixel; at most one
  // with alpha 0, written 0, 0, 0, 0.
  std::vector<RgbaEntry> palette;
  // One entry index per pixel, row by row.
  std::vector<uint8_t> indices;
  // Distinct colours of the source, every alpha-0 pixel counted as one.
  int colorsBefore = 0;
  // True when some pixel does not show its source colour exactly.
  bool reduced = false;
  // Of the palette image against the source, as CompositeErrorOf measures it.
  CompositeError error;
};

// bgr: CV_8UC3; alpha: CV_8UC1 of the same size, or empty for opaque.
// Deterministic: the same input and options give the same result.
// No value when the types or sizes do not match, an option is out of
// range (quality not a number or below 0), or memory runs out.
std::optional<RgbaResult> ReduceRgba(const cv::Mat& bgr, const cv::Mat& alpha,
                                     const RgbaOptions& options);

}  // namespace zef::quantize

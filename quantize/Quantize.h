// Colour reduction for the archive's 4-4-4 palettes: maps 8-bit pixels to
// the 16 levels a decoder shows (n x 16) and, where an image then has more
// colours than its palette holds, chooses a palette of our own over the
// 4096 four-bit colours, weighted by how visible each pixel is.
//
// Nothing here throws. Reduce answers with no value when its input is not
// what it takes or memory runs out; the other functions are total.
#pragma once

#include <opencv2/core.hpp>

#include <cstdint>
#include <optional>

namespace zef::quantize {

// How an 8-bit channel v becomes a stored 4-bit level n (shown as n x 16).
enum class Levels {
  kNearest,  // n = min(15, (v + 8) / 16): the level a decoder shows closest to v
  kCut,      // n = v >> 4: what the console tool stores
};

struct ReduceOptions {
  // Palette cap for this image: 256 without alpha, 64 with two alpha bits,
  // or the user's own limit. 1 to 256.
  int maxColors = 256;
  Levels levels = Levels::kNearest;
  // 0: none; above 0: Floyd-Steinberg error diffusion at that strength
  // (1.0 = full). Dithering uses only palette colours, so the cap holds.
  float ditherStrength = 0;
  // 0, 2 or 4: how the writer will code the mask. Pixels whose alpha code
  // is 0 are invisible. With 0 (or no mask) every pixel is visible.
  int alphaValues = 0;
  // Invisible pixels all take one colour, so that their runs grow; false
  // keeps their colours (the console tool's behaviour).
  bool unifyInvisible = true;
};

struct ReduceResult {
  // CV_8UC3, every channel n x 16 (n = 0..15), so that the writer's 4-bit
  // cut stores exactly n.
  cv::Mat bgr;
  // Distinct 4-bit colours after level mapping, before reduction (visible
  // pixels only when a mask is given).
  int colorsBefore = 0;
  // Distinct colours in `bgr` over all pixels: what the writer's palette
  // will hold.
  int colorsAfter = 0;
  // True when colours had to be merged to fit maxColors.
  bool reduced = false;
  // What VisiblePsnr gives for this result, measured while it is written.
  double psnr = 0;
};

// bgr: CV_8UC3; alpha: CV_8UC1 of the same size, or empty for opaque.
// Deterministic: the same input gives the same result on every run.
// No value when bgr is not CV_8UC3, the mask's type or size differs, an
// option is out of range, or memory runs out.
std::optional<ReduceResult> Reduce(const cv::Mat& bgr, const cv::Mat& alpha,
                                   const ReduceOptions& options);

// PSNR in dB over the visible pixels (alpha code above 0 for alphaValues;
// all pixels when alpha is empty or alphaValues is 0) of the 8-bit source
// against what a decoder shows for the result ((v >> 4) x 16 per channel).
// +infinity when they are identical or nothing is visible; NaN when the
// images' types or sizes do not match.
double VisiblePsnr(const cv::Mat& sourceBgr, const cv::Mat& alpha, int alphaValues,
                   const cv::Mat& resultBgr);

// The alpha code the writer stores for a mask byte at this number of alpha
// values: 2 values keep the top bit, 4 the top two bits (graded); 0 values
// store no alpha, and every pixel counts as fully visible (code 1).
uint8_t AlphaCode(uint8_t maskByte, int alphaValues);
// The 8-bit alpha a decoder shows for an alpha code: code x 255 / (values - 1);
// 255 when alphaValues is 0.
uint8_t ShownAlpha(uint8_t alphaCode, int alphaValues);

// The level a channel value takes, and the 8-bit value a decoder shows for it.
inline int LevelOf(int value, Levels levels) {
  if (levels == Levels::kCut) return value >> 4;
  const int level = (value + 8) / 16;
  return level > 15 ? 15 : level;
}
inline int ShownValue(int level) { return level * 16; }

}  // namespace zef::quantize

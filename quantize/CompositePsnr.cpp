#include "quantize/CompositePsnr.h"

#include <cmath>
#include <limits>

namespace zef {

namespace {

constexpr double kFull = 255.0;
constexpr int kChannels = 3;  // blue, green, red; alpha is the fourth
constexpr int kBackgrounds = 2;

constexpr uint8_t kOpaque = 255;

// A pixel's squared error scaled by 255^2, which makes it a whole number:
// over black a channel shows c * a / 255, over white it gains (255 - a),
// so both differences are whole numbers over 255. Rows sum exactly in 64
// bits (a pixel adds at most 6 * 65025^2, so a row could hold 10^8 of
// them) and reach the double total one row at a time: the sum does not
// depend on the order of the pixels within a row, and costs no division.
constexpr double kScaleSquared = kFull * kFull;

inline void AddPixel(const uint8_t* from, int fromAlpha, const uint8_t* to, int toAlpha, int64_t& rowSquares,
                     uint64_t& samples) {
  if (fromAlpha == 0 && toAlpha == 0) return;
  const int64_t alphaGap = int64_t(kOpaque) * (toAlpha - fromAlpha);
  for (int c = 0; c < kChannels; ++c) {
    const int64_t overBlack = int64_t(to[c]) * toAlpha - int64_t(from[c]) * fromAlpha;
    const int64_t overWhite = overBlack - alphaGap;
    rowSquares += overBlack * overBlack + overWhite * overWhite;
  }
  samples += kChannels * kBackgrounds;
}

bool Plane(const cv::Mat& plane, int type, const cv::Size& size) {
  return plane.type() == type && plane.dims <= 2 && plane.size() == size;
}

}  // namespace

void CompositeError::Add(const CompositeError& other) {
  squaredError += other.squaredError;
  samples += other.samples;
}

double CompositeError::Psnr() const {
  if (squaredError <= 0 || samples == 0) return std::numeric_limits<double>::infinity();
  const double mean = squaredError / double(samples);
  return 10.0 * std::log10(kFull * kFull / mean);
}

CompositeError CompositeErrorOf(const cv::Mat& source, const cv::Mat& decoded) {
  CompositeError error;
  if (source.type() != CV_8UC4 || decoded.type() != CV_8UC4 || source.dims > 2 ||
      decoded.dims > 2 || source.size() != decoded.size()) {
    return error;
  }
  for (int y = 0; y < source.rows; ++y) {
    const uint8_t* from = source.ptr<uint8_t>(y);
    const uint8_t* to = decoded.ptr<uint8_t>(y);
    int64_t rowSquares = 0;
    for (int x = 0; x < source.cols; ++x, from += 4, to += 4) {
      AddPixel(from, from[3], to, to[3], rowSquares, error.samples);
    }
    error.squaredError += double(rowSquares) / kScaleSquared;
  }
  return error;
}

CompositeError CompositeErrorOf(const cv::Mat& sourceBgr, const cv::Mat& sourceAlpha, const cv::Mat& decodedBgr,
                                const cv::Mat& decodedAlpha) {
  CompositeError error;
  const cv::Size size = sourceBgr.size();
  if (!Plane(sourceBgr, CV_8UC3, size) || !Plane(decodedBgr, CV_8UC3, size) ||
      (!sourceAlpha.empty() && !Plane(sourceAlpha, CV_8UC1, size)) ||
      (!decodedAlpha.empty() && !Plane(decodedAlpha, CV_8UC1, size))) {
    return error;
  }
  for (int y = 0; y < size.height; ++y) {
    const uint8_t* from = sourceBgr.ptr<uint8_t>(y);
    const uint8_t* to = decodedBgr.ptr<uint8_t>(y);
    const uint8_t* fromAlpha = sourceAlpha.empty() ? nullptr : sourceAlpha.ptr<uint8_t>(y);
    const uint8_t* toAlpha = decodedAlpha.empty() ? nullptr : decodedAlpha.ptr<uint8_t>(y);
    int64_t rowSquares = 0;
    uint64_t rowSamples = 0;
    for (int x = 0; x < size.width; ++x, from += 3, to += 3) {
      const int shownFrom = fromAlpha ? fromAlpha[x] : kOpaque, shownTo = toAlpha ? toAlpha[x] : kOpaque;
      // A pixel shown as it was adds its samples and no error (most pixels
      // of an image that kept its colours).
      if (shownFrom == shownTo && from[0] == to[0] && from[1] == to[1] && from[2] == to[2]) {
        rowSamples += shownFrom != 0 ? kChannels * kBackgrounds : 0;
        continue;
      }
      AddPixel(from, shownFrom, to, shownTo, rowSquares, rowSamples);
    }
    error.samples += rowSamples;
    error.squaredError += double(rowSquares) / kScaleSquared;
  }
  return error;
}

CompositeError CompositeErrorOfIndexed(const cv::Mat& sourceBgr, const cv::Mat& sourceAlpha,
                                       const std::vector<cv::Vec4b>& entries, const std::vector<uint8_t>& indices) {
  CompositeError error;
  const cv::Size size = sourceBgr.size();
  if (!Plane(sourceBgr, CV_8UC3, size) || (!sourceAlpha.empty() && !Plane(sourceAlpha, CV_8UC1, size)) ||
      indices.size() != size_t(size.area())) {
    return error;
  }
  // Each entry's channels over black, times 255: what AddPixel forms per pixel.
  struct Shown {
    int64_t overBlack[kChannels];
    int alpha;
  };
  Shown shown[256] = {};
  for (size_t e = 0; e < entries.size() && e < 256; ++e) {
    for (int c = 0; c < kChannels; ++c) shown[e].overBlack[c] = int64_t(entries[e][c]) * entries[e][3];
    shown[e].alpha = entries[e][3];
  }
  const uint8_t* index = indices.data();
  for (int y = 0; y < size.height; ++y) {
    const uint8_t* from = sourceBgr.ptr<uint8_t>(y);
    const uint8_t* fromAlpha = sourceAlpha.empty() ? nullptr : sourceAlpha.ptr<uint8_t>(y);
    int64_t rowSquares = 0;
    uint64_t rowSamples = 0;
    for (int x = 0; x < size.width; ++x, from += 3, ++index) {
      const Shown& to = shown[*index];
      const int fa = fromAlpha ? fromAlpha[x] : kOpaque;
      if (fa == 0 && to.alpha == 0) continue;
      const int64_t alphaGap = int64_t(kOpaque) * (to.alpha - fa);
      for (int c = 0; c < kChannels; ++c) {
        const int64_t overBlack = to.overBlack[c] - int64_t(from[c]) * fa;
        const int64_t overWhite = overBlack - alphaGap;
        rowSquares += overBlack * overBlack + overWhite * overWhite;
      }
      rowSamples += kChannels * kBackgrounds;
    }
    error.samples += rowSamples;
    error.squaredError += double(rowSquares) / kScaleSquared;
  }
  return error;
}

}  // namespace zef

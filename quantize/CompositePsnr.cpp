#include "quantize/CompositePsnr.h"

#include <cmath>
#include <limits>

namespace zef {

namespace {

constexpr double kFull = 255.0;
constexpr int kChannels = 3;  // blue, green, red; alpha is the fourth
constexpr int kBackgrounds = 2;

constexpr uint8_t kOpaque = 255;

// What one pixel adds: colours at `from` and `to`, three channels each.
inline void AddPixel(const uint8_t* from, int fromAlpha, const uint8_t* to, int toAlpha, CompositeError& error) {
  if (fromAlpha == 0 && toAlpha == 0) return;
  // Over black a channel shows c * a / 255; over white it gains
  // (255 - a): the two differences share the colour term.
  const double alphaGap = double(toAlpha - fromAlpha);
  // The pixel's own sum first: one addition per pixel waits on the last.
  double squares = 0;
  for (int c = 0; c < kChannels; ++c) {
    const double overBlack = (double(to[c]) * toAlpha - double(from[c]) * fromAlpha) / kFull;
    const double overWhite = overBlack - alphaGap;
    squares += overBlack * overBlack + overWhite * overWhite;
  }
  error.squaredError += squares;
  error.samples += kChannels * kBackgrounds;
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
    for (int x = 0; x < source.cols; ++x, from += 4, to += 4) AddPixel(from, from[3], to, to[3], error);
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
    for (int x = 0; x < size.width; ++x, from += 3, to += 3) {
      AddPixel(from, fromAlpha ? fromAlpha[x] : kOpaque, to, toAlpha ? toAlpha[x] : kOpaque, error);
    }
  }
  return error;
}

}  // namespace zef

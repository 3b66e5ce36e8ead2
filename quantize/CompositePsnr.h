// Composite PSNR: the quality measure the archive tools report for every
// version. The source and the decoded image are each composited over black
// and over white; the three channels of every pixel that is visible (alpha
// above 0) in either image count on both backgrounds. Errors pool over a
// whole set through Add, so a set's PSNR weighs every sample alike.
#pragma once

#include <opencv2/core.hpp>

#include <cstdint>
#include <vector>

namespace zef {

struct CompositeError {
  double squaredError = 0;  // summed squared error of composited channel values
  uint64_t samples = 0;     // channel samples counted (3 per visible pixel per background)

  void Add(const CompositeError& other);
  // 10 log10(255^2 / mean): +infinity when there is no error (or nothing
  // is visible).
  double Psnr() const;
};

// source and decoded: CV_8UC4 BGRA of the same size. Images of another
// type or size count nothing (an empty error).
CompositeError CompositeErrorOf(const cv::Mat& source, const cv::Mat& decoded);

// The same measure on colour and alpha planes, as images are loaded and
// decoded, with no four-channel copy: bgr CV_8UC3, alpha CV_8UC1 of the
// same size or empty for opaque. The same pixels give the same error as
// the BGRA form, to the last bit.
CompositeError CompositeErrorOf(const cv::Mat& sourceBgr, const cv::Mat& sourceAlpha, const cv::Mat& decodedBgr,
                                const cv::Mat& decodedAlpha);

// The same measure of a palette image: `entries` holds each entry's blue,
// green, red and alpha, `indices` one entry per pixel, row by row, for a
// source of bgr CV_8UC3 and alpha CV_8UC1 (empty for opaque). The same
// pixels give the same error as the plane form, to the last bit, without
// the palette image's planes being made.
CompositeError CompositeErrorOfIndexed(const cv::Mat& sourceBgr, const cv::Mat& sourceAlpha,
                                       const std::vector<cv::Vec4b>& entries, const std::vector<uint8_t>& indices);

}  // namespace zef

// Decoding into cv::Mat: 8-bit 3-channel images (blue, green, red), made
// once and filled in place.
#pragma once

#include <opencv2/core.hpp>

#include <string>
#include <vector>

#include "archive/ZefDecode.h"

namespace zef {

struct MatDecodeResult : DecodeResult {
  // Image n of `images` (whose pixels stay empty) as a cv::Mat.
  std::vector<cv::Mat> mats;
};

MatDecodeResult DecodeMats(const uint8_t* data, size_t size, const Options& options = {});
MatDecodeResult DecodeMatsFromFile(const std::string& fileName, const Options& options = {});

}  // namespace zef

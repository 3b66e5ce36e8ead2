// Encoding from cv::Mat images: 8-bit 3-channel sources (blue, green, red)
// and 8-bit 1-channel masks, checked as ZefImgWriter checks them (format
// and size) before they are handed to the encoder as views.
#pragma once

#include <opencv2/core.hpp>

#include <string>
#include <vector>

#include "writer/ZefEncode.h"

namespace zef {

// An empty mask in a non-empty list is "no mask" for its image.
EncodeResult EncodeMats(const std::vector<cv::Mat>& images, const std::vector<cv::Mat>& masks,
                        const Options& options);
Status EncodeMatsToFile(const std::string& fileName, const std::vector<cv::Mat>& images,
                        const std::vector<cv::Mat>& masks, const Options& options);

}  // namespace zef

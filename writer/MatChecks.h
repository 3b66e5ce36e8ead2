// The checks of cv::Mat images and masks before they are read as views:
// their format, which a view cannot show, and their sizes.
#pragma once

#include <opencv2/core.hpp>

#include <string>
#include <vector>

#include "writer/ZefEncode.h"

namespace zef {

// The passes read 3 bytes per pixel; anything else would be read past its
// rows.
inline bool IsSourceLayout(const cv::Mat& image) {
  return image.dims <= 2 && (image.empty() || image.type() == CV_8UC3);
}

// The message of the first failing test of one image and its mask (empty:
// no mask), numbered n; empty when both pass. `channels` is the channel
// count an image must have.
std::string CheckMatImage(const cv::Mat& image, const cv::Mat& mask, int n, int channels);
// The mask count, then every image in order; empty when all pass.
std::string CheckMatImages(const std::vector<cv::Mat>& images, const std::vector<cv::Mat>& masks,
                           int channels);

// Views of checked images and masks; an empty mask becomes "no mask".
ImageView ViewOf(const cv::Mat& image);
MaskView MaskViewOf(const cv::Mat& mask);

}  // namespace zef

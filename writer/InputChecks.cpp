// Tests of cv::Mat images and masks, run before any file is touched so
// that a refused input never truncates an existing archive.
#include "archive/FormatMessage.h"
#include "archive/ZefFormat.h"
#include "writer/MatChecks.h"

namespace zef {

std::string CheckMatImage(const cv::Mat& image, const cv::Mat& mask, int n, int channels) {
  const bool hasMask = !mask.empty();
  const char* message = nullptr;
  if (hasMask && mask.cols != image.cols) {
    message = "img %d: mask and image must have the same width";
  } else if (hasMask && mask.rows != image.rows) {
    message = "img %d: mask and image must have the same height";
  } else if (image.dims != 2 || image.depth() != CV_8U || image.channels() != channels) {
    message = "img %d: wrong cvImage (depth/nChannels)";
  } else if (hasMask && (mask.dims != 2 || mask.depth() != CV_8U || mask.channels() != 1)) {
    message = "img %d: wrong cvMask (depth/nChannels)";
  } else if (image.cols > kMaxImageWidth) {
    return FormatMessage("img %d: maximum width of an image is %d", n, kMaxImageWidth);
  }
  return message != nullptr ? FormatMessage(message, n) : std::string();
}

std::string CheckMatImages(const std::vector<cv::Mat>& images, const std::vector<cv::Mat>& masks,
                           int channels) {
  if (!masks.empty() && masks.size() != images.size()) return "nr of masks != nr of bmps..";
  static const cv::Mat kNoMask;
  for (size_t n = 0; n < images.size(); ++n) {
    std::string message = CheckMatImage(images[n], masks.empty() ? kNoMask : masks[n], int(n), channels);
    if (!message.empty()) return message;
  }
  return {};
}

ImageView ViewOf(const cv::Mat& image) {
  return {image.data, image.cols, image.rows, image.empty() ? 0 : size_t(image.step[0])};
}

MaskView MaskViewOf(const cv::Mat& mask) {
  if (mask.empty()) return {};
  return {mask.data, mask.cols, mask.rows, size_t(mask.step[0])};
}

}  // namespace zef

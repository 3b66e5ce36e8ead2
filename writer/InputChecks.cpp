// Tests of the images and masks handed to Write, run before any file is
// touched so that a refused input never truncates an existing archive.
#include "archive/FormatMessage.h"
#include "writer/ZefImgWriter.h"

namespace zef {

bool ZefImgWriter::CheckImages(const std::vector<cv::Mat>& images,
                               const std::vector<cv::Mat>& masks) {
  if (!masks.empty() && masks.size() != images.size()) {
    SetError("nr of masks != nr of bmps..");
    return false;
  }
  static const cv::Mat kNoMask;
  for (size_t n = 0; n < images.size(); ++n) {
    if (!CheckImage(images[n], masks.empty() ? kNoMask : masks[n], int(n))) return false;
  }
  return true;
}

bool ZefImgWriter::CheckImage(const cv::Mat& image, const cv::Mat& mask, int imageNumber) {
  const bool hasMask = !mask.empty();
  if (hasMask && mask.cols != image.cols) {
    SetError(FormatMessage("img %d: mask and image must have the same width", imageNumber));
    return false;
  }
  if (hasMask && mask.rows != image.rows) {
    SetError(FormatMessage("img %d: mask and image must have the same height", imageNumber));
    return false;
  }
  if (image.dims != 2 || image.depth() != CV_8U || image.channels() != header_.channelCount) {
    SetError(FormatMessage("img %d: wrong cvImage (depth/nChannels)", imageNumber));
    return false;
  }
  if (hasMask && (mask.dims != 2 || mask.depth() != CV_8U || mask.channels() != 1)) {
    SetError(FormatMessage("img %d: wrong cvMask (depth/nChannels)", imageNumber));
    return false;
  }
  if (image.cols > kMaxImageWidth) {
    SetError(FormatMessage("img %d: maximum width of an image is %d", imageNumber,
                           kMaxImageWidth));
    return false;
  }
  return true;
}

}  // namespace zef

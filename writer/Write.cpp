// Write, WriteMemory and the input checks: the writer's settings handed to
// the cv::Mat encoder, its message kept as the pending error.
#include "writer/MatChecks.h"
#include "writer/ZefEncodeMat.h"
#include "writer/ZefImgWriter.h"

namespace zef {

bool ZefImgWriter::Write(const std::string& fileName, std::vector<cv::Mat> images,
                         std::vector<cv::Mat> masks) {
  const Status status = EncodeMatsToFile(fileName, images, masks, Settings());
  if (!status.Ok()) SetError(status.message);
  return status.Ok();
}

std::optional<std::vector<uint8_t>> ZefImgWriter::WriteMemory(const std::vector<cv::Mat>& images,
                                                              const std::vector<cv::Mat>& masks) {
  EncodeResult result = EncodeMats(images, masks, Settings());
  if (!result.Ok()) {
    SetError(result.message);
    return std::nullopt;
  }
  return std::move(result.bytes);
}

bool ZefImgWriter::CheckImages(const std::vector<cv::Mat>& images, const std::vector<cv::Mat>& masks) {
  const std::string message = CheckMatImages(images, masks, header_.channelCount);
  if (!message.empty()) SetError(message);
  return message.empty();
}

bool ZefImgWriter::CheckImage(const cv::Mat& image, const cv::Mat& mask, int imageNumber) {
  const std::string message = CheckMatImage(image, mask, imageNumber, header_.channelCount);
  if (!message.empty()) SetError(message);
  return message.empty();
}

}  // namespace zef

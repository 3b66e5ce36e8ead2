// The cv::Mat adapters: the format checks that views cannot show, in the
// writer's order (image count, then each image), then the encoder.
#include "writer/ArchiveEncoder.h"
#include "writer/MatChecks.h"
#include "writer/ZefEncodeMat.h"

namespace zef {

namespace {

Status EncodeMatsInto(const std::vector<cv::Mat>& images, const std::vector<cv::Mat>& masks,
                      const Options& options, ArchiveSink& sink) {
  Status status;
  const std::optional<EncoderSettings> settings = SettingsOf(options, &status);
  if (!settings) return status;
  try {
    status = CheckImageCount(images.size(), settings->version);
    if (!status.Ok()) return status;
    // Sources are BGR whatever the version; version 4's header says 4 channels.
    const int channels = settings->version == kVersion4 ? 3 : settings->header.channelCount;
    std::string message = CheckMatImages(images, masks, channels);
    if (!message.empty()) return {Error::kBadInput, std::move(message)};
    std::vector<ImageView> imageViews;
    std::vector<MaskView> maskViews;
    imageViews.reserve(images.size());
    maskViews.reserve(masks.size());
    for (const cv::Mat& image : images) imageViews.push_back(ViewOf(image));
    for (const cv::Mat& mask : masks) maskViews.push_back(MaskViewOf(mask));
    return EncodeViews(*settings, imageViews, maskViews, sink);
  } catch (const std::bad_alloc&) {
  } catch (const cv::Exception&) {
  }
  return {Error::kOutOfMemory, "out of memory"};
}

}  // namespace

EncodeResult EncodeMats(const std::vector<cv::Mat>& images, const std::vector<cv::Mat>& masks,
                        const Options& options) {
  EncodeResult result;
  MemorySink sink;
  static_cast<Status&>(result) = EncodeMatsInto(images, masks, options, sink);
  if (result.Ok()) result.bytes = std::move(sink.Bytes());
  return result;
}

Status EncodeMatsToFile(const std::string& fileName, const std::vector<cv::Mat>& images,
                        const std::vector<cv::Mat>& masks, const Options& options) {
  FileSink sink(fileName);
  return EncodeMatsInto(images, masks, options, sink);
}

}  // namespace zef

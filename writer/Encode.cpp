// The public encode calls: settings from the options, then the encoder
// into memory or into a file.
#include "archive/FormatMessage.h"
#include "writer/ArchiveEncoder.h"

namespace zef {

EncodeResult Encode(const std::vector<ImageView>& images, const std::vector<MaskView>& masks,
                    const Options& options) {
  EncodeResult result;
  const std::optional<EncoderSettings> settings = SettingsOf(options, &result);
  if (!settings) return result;
  MemorySink sink;
  static_cast<Status&>(result) = EncodeViews(*settings, images, masks, sink);
  if (result.Ok()) result.bytes = std::move(sink.Bytes());
  return result;
}

Status EncodeToFile(const std::string& fileName, const std::vector<ImageView>& images,
                    const std::vector<MaskView>& masks, const Options& options) {
  Status status;
  const std::optional<EncoderSettings> settings = SettingsOf(options, &status);
  if (!settings) return status;
  FileSink sink(fileName);
  return EncodeViews(*settings, images, masks, sink);
}

}  // namespace zef

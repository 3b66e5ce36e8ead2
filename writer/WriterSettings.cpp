// The writer object: per-version settings, start index and the pending error.
#include "archive/FormatMessage.h"
#include "writer/EncoderSettings.h"
#include "writer/ZefImgWriter.h"

namespace zef {

ZefImgWriter::ZefImgWriter() { SetVersion(kVersion2); }

ZefImgWriter::~ZefImgWriter() = default;

void ZefImgWriter::SetVersion(int version) {
  if (version == kVersion1) {
    SetError(FormatMessage("error: version %d not longer supported", version));
    return;
  }
  if (version != kVersion2 && version != kVersion3) {
    SetError(FormatMessage("error: wrong version NR (%d)", version));
    return;
  }
  version_ = uint16_t(version);
  header_ = VersionHeader(version);
  alphaValues_ = 4;
  alphaPosition_ = AlphaPosition::kHigh;
  startIndex_ = 0;
}

void ZefImgWriter::SetStartIndex(int32_t startIndex) { startIndex_ = startIndex; }

void ZefImgWriter::setAlpha(int alphaValues) {
  const std::optional<HeaderBytes> header = AlphaHeader(alphaValues);
  if (!header) {
    SetError("wrong alpha values");
    return;
  }
  if (version_ != kVersion3) {
    SetError(FormatMessage("error: setAlpha only used in version3 (version: %d)", version_));
    return;
  }
  header_ = *header;
  alphaValues_ = alphaValues;
  alphaPosition_ = AlphaPosition::kHigh;
}

void ZefImgWriter::SetAlphaPosition(AlphaPosition position) {
  alphaPosition_ = position;
  header_.alphaPosition = AlphaPositionByte(position);
}

Options ZefImgWriter::Settings() const {
  Options options;
  options.version = version_;
  options.alphaValues = alphaValues_;
  options.alphaPosition = alphaPosition_;
  options.startIndex = startIndex_;
  options.archiveSizeLimit = sizeLimit_;
  return options;
}

std::string ZefImgWriter::GetError() {
  std::string message;
  message.swap(error_);
  return message;
}

bool ZefImgWriter::HasError() const { return !error_.empty(); }

void ZefImgWriter::SetError(const std::string& message) { error_ = message; }

}  // namespace zef

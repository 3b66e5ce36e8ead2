// The writer object: per-version settings, start index and the pending error.
#include "archive/FormatMessage.h"
#include "writer/ZefImgWriter.h"

namespace zef {

namespace {
constexpr HeaderBytes kVersion2Settings = {3, 2, 12, 4, kAlphaModeTwoLevel, kAlphaPositionHigh, 1};
constexpr HeaderBytes kVersion3Settings = {3, 1, 6, 2, kAlphaModeGraded, kAlphaPositionHigh, 1};
}  // namespace

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
  header_ = version == kVersion2 ? kVersion2Settings : kVersion3Settings;
  startIndex_ = 0;
}

void ZefImgWriter::SetStartIndex(int32_t startIndex) { startIndex_ = startIndex; }

std::string ZefImgWriter::GetError() {
  std::string message;
  message.swap(error_);
  return message;
}

bool ZefImgWriter::HasError() const { return !error_.empty(); }

void ZefImgWriter::SetError(const std::string& message) { error_ = message; }

}  // namespace zef

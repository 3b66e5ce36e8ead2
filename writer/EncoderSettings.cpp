// Header bytes by version and alpha setting, and the options that pick them.
#include "writer/EncoderSettings.h"

#include "archive/FormatMessage.h"

namespace zef {

namespace {
constexpr HeaderBytes kVersion2Settings = {3, 2, 12, 4, kAlphaModeTwoLevel, kAlphaPositionHigh, 1};
constexpr HeaderBytes kVersion3Settings = {3, 1, 6, 2, kAlphaModeGraded, kAlphaPositionHigh, 1};
}  // namespace

HeaderBytes VersionHeader(int version) {
  return version == kVersion3 ? kVersion3Settings : kVersion2Settings;
}

std::optional<HeaderBytes> AlphaHeader(int alphaValues) {
  HeaderBytes header = kVersion3Settings;
  switch (alphaValues) {
    case 0: header.colourBits = 8, header.alphaBits = 0, header.alphaMode = kAlphaModeNone; break;
    case 2: header.colourBits = 7, header.alphaBits = 1, header.alphaMode = kAlphaModeGraded; break;
    case 4: break;
    default: return std::nullopt;
  }
  return header;
}

uint8_t AlphaPositionByte(AlphaPosition position) {
  return position == AlphaPosition::kLow ? kAlphaPositionLow : kAlphaPositionHigh;
}

std::optional<EncoderSettings> SettingsOf(const Options& options, Status* status) {
  const auto refuse = [status](std::string message) -> std::optional<EncoderSettings> {
    *status = {Error::kBadSetting, std::move(message)};
    return std::nullopt;
  };
  if (options.version == kVersion1) {
    return refuse(FormatMessage("error: version %d not longer supported", options.version));
  }
  if (options.version != kVersion2 && options.version != kVersion3 && options.version != kVersion4) {
    return refuse(FormatMessage("error: wrong version NR (%d)", options.version));
  }
  if (options.alphaPosition != AlphaPosition::kHigh && options.alphaPosition != AlphaPosition::kLow) {
    return refuse("wrong alpha position");
  }
  EncoderSettings settings;
  settings.version = uint16_t(options.version);
  settings.header = VersionHeader(options.version);
  if (options.version == kVersion3) {
    const std::optional<HeaderBytes> header = AlphaHeader(options.alphaValues);
    if (!header) return refuse("wrong alpha values");
    settings.header = *header;
  }
  settings.header.alphaPosition = AlphaPositionByte(options.alphaPosition);
  if (options.version == kVersion4) {
    // Fixed bytes that readers ignore; alpha values and position do not apply.
    const uint8_t* bytes = kV4HeaderBytes;
    settings.header = {bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6]};
  }
  settings.startIndex = options.startIndex;
  // Offsets are u32: no limit reaches past what they address.
  settings.sizeLimit = options.archiveSizeLimit < kMaxArchiveSize ? options.archiveSizeLimit : kMaxArchiveSize;
  return settings;
}

}  // namespace zef

// The encoder's settings as the archive stores them, made from the caller's
// options, and the rules that turn pixels and mask bytes into stored values.
#pragma once

#include <cstdint>
#include <optional>

#include "archive/ZefFormat.h"
#include "archive/ZefOptions.h"

namespace zef {

struct EncoderSettings {
  uint16_t version = kVersion2;
  HeaderBytes header{};
  int32_t startIndex = 0;
  // Red in the high nibble of a palette colour; no setting changes it.
  bool swapFlag = true;
  uint64_t sizeLimit = kMaxArchiveSize;
};

// The header bytes of a version (2 or 3; version 3 with 4 alpha values).
HeaderBytes VersionHeader(int version);
// Version 3 header bytes for 0, 2 or 4 alpha values; no value for others.
std::optional<HeaderBytes> AlphaHeader(int alphaValues);
uint8_t AlphaPositionByte(AlphaPosition position);

// The settings of `options`; no value, with the code and message in
// `status`, when one of them is refused.
std::optional<EncoderSettings> SettingsOf(const Options& options, Status* status);

// The 12-bit palette colour of a blue, green, red pixel. Only the high
// nibble of each channel survives, cut rather than rounded.
inline uint16_t PaletteColour(const uint8_t* pixel, bool swapFlag) {
  const uint16_t first = pixel[0] >> 4, green = pixel[1] >> 4, third = pixel[2] >> 4;
  return swapFlag ? uint16_t(third << 8 | green << 4 | first) : uint16_t(first << 8 | green << 4 | third);
}

// The alpha code of one mask byte for a pixel code, by alpha bits and mode.
inline uint8_t PixelCodeAlpha(const HeaderBytes& header, uint8_t maskByte) {
  if (header.alphaBits == 1) return maskByte >> 7;
  if (header.alphaMode == kAlphaModeTwoLevel) return maskByte >= kTwoLevelThreshold ? 3 : 0;
  return maskByte >> 6;
}

inline constexpr uint8_t kOpaqueNibble = 15;

// The 4-bit alpha nibble of one mask byte for a colour word.
inline uint8_t ColourWordAlpha(const HeaderBytes& header, uint8_t maskByte) {
  if (header.alphaMode == kAlphaModeTwoLevel) return maskByte >= kTwoLevelThreshold ? kOpaqueNibble : 0;
  return maskByte >> 4;
}

// True when the alpha bits setting can carry a mask in a pixel code.
inline bool PixelCodesCarryAlpha(const HeaderBytes& header) {
  return header.alphaBits == 1 || header.alphaBits == 2;
}

// A palette index and alpha code packed into a pixel code; the alpha bits
// must be 1 or 2.
inline uint8_t PackPixelCode(const HeaderBytes& header, uint8_t paletteIndex, uint8_t alphaCode) {
  const bool low = header.alphaPosition == kAlphaPositionLow;
  if (header.alphaBits == 1) {
    return low ? uint8_t(paletteIndex * 2 + alphaCode) : uint8_t(alphaCode * 128 + paletteIndex % 128);
  }
  return low ? uint8_t(paletteIndex * 4 + alphaCode) : uint8_t(alphaCode * 64 + paletteIndex % 64);
}

inline uint16_t PackColourWord(const HeaderBytes& header, uint16_t paletteColour, uint8_t alphaNibble) {
  if (header.alphaPosition == kAlphaPositionLow) return uint16_t(paletteColour * 16 + alphaNibble);
  return uint16_t(alphaNibble * 4096 + paletteColour);
}

}  // namespace zef

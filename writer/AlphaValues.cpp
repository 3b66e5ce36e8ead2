// How mask bytes become alpha codes and how codes are packed beside the
// colour part of a stored value.
#include "archive/FormatMessage.h"
#include "writer/ZefImgWriter.h"

namespace zef {

namespace {
struct AlphaSetting {
  uint8_t colourBits, alphaBits, alphaMode;
};
constexpr AlphaSetting kNoAlpha = {8, 0, kAlphaModeNone};
constexpr AlphaSetting kOneAlphaBit = {7, 1, kAlphaModeGraded};
constexpr AlphaSetting kTwoAlphaBits = {6, 2, kAlphaModeGraded};
constexpr uint8_t kOpaqueNibble = 15;
}  // namespace

void ZefImgWriter::setAlpha(int alphaValues) {
  const AlphaSetting* setting = alphaValues == 0   ? &kNoAlpha
                                : alphaValues == 2 ? &kOneAlphaBit
                                : alphaValues == 4 ? &kTwoAlphaBits
                                                   : nullptr;
  if (setting == nullptr) {
    SetError("wrong alpha values");
    return;
  }
  if (version_ != kVersion3) {
    SetError(FormatMessage("error: setAlpha only used in version3 (version: %d)", version_));
    return;
  }
  header_.colourBits = setting->colourBits;
  header_.alphaBits = setting->alphaBits;
  header_.alphaMode = setting->alphaMode;
  header_.alphaPosition = kAlphaPositionHigh;
}

uint8_t ZefImgWriter::PixelCodeAlpha(uint8_t maskByte) const {
  if (header_.alphaBits == 1) return maskByte >> 7;
  if (header_.alphaMode == kAlphaModeTwoLevel) return maskByte >= kTwoLevelThreshold ? 3 : 0;
  return maskByte >> 6;
}

uint8_t ZefImgWriter::ColourWordAlpha(uint8_t maskByte) const {
  if (header_.alphaMode == kAlphaModeTwoLevel) {
    return maskByte >= kTwoLevelThreshold ? kOpaqueNibble : 0;
  }
  return maskByte >> 4;
}

bool ZefImgWriter::PackPixelCode(uint8_t paletteIndex, uint8_t alphaCode,
                                 uint8_t* pixelCode) const {
  const bool low = header_.alphaPosition == kAlphaPositionLow;
  if (header_.alphaBits == 1) {
    *pixelCode = low ? uint8_t(paletteIndex * 2 + alphaCode)
                     : uint8_t(alphaCode * 128 + paletteIndex % 128);
    return true;
  }
  if (header_.alphaBits == 2) {
    *pixelCode = low ? uint8_t(paletteIndex * 4 + alphaCode)
                     : uint8_t(alphaCode * 64 + paletteIndex % 64);
    return true;
  }
  return false;
}

uint16_t ZefImgWriter::PackColourWord(uint16_t paletteColour, uint8_t alphaNibble) const {
  if (header_.alphaPosition == kAlphaPositionLow) {
    return uint16_t(paletteColour * 16 + alphaNibble);
  }
  return uint16_t(alphaNibble * 4096 + paletteColour);
}

}  // namespace zef

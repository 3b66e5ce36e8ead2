// ZefImgReader: a decoder kept between reads, decoding into cv::Mat.
#include "archive/ZefImgReader.h"

#include "archive/ImageStores.h"

namespace zef {

namespace {

std::optional<cv::Mat> LastImage(bool decoded, MatStore& store) {
  if (!decoded || store.Mats().empty()) return std::nullopt;
  return std::move(store.Mats().back());
}

std::optional<std::vector<cv::Mat>> Images(bool decoded, MatStore& store) {
  if (!decoded) return std::nullopt;
  return std::move(store.Mats());
}

}  // namespace

ZefImgReader::ZefImgReader() {
  decoder_.SetDecodeAlpha(false);
  decoder_.SetNewestVersion(kVersion3);
}
ZefImgReader::~ZefImgReader() = default;

std::string ZefImgReader::GetError() { return decoder_.GetError(); }

void ZefImgReader::SetLimits(uint64_t maxPixelsPerImage, uint64_t maxDecodedBytes) {
  decoder_.SetLimits({maxPixelsPerImage, maxDecodedBytes});
}

std::optional<std::vector<cv::Mat>> ZefImgReader::Read(const std::string& fileName) {
  MatStore store;
  std::vector<DecodedImage> images;
  return Images(decoder_.DecodeFile(fileName, store, images), store);
}

std::optional<std::vector<cv::Mat>> ZefImgReader::ReadMemory(const uint8_t* data, size_t size) {
  MatStore store;
  std::vector<DecodedImage> images;
  return Images(decoder_.DecodeMemory(data, size, store, images), store);
}

std::optional<cv::Mat> ZefImgReader::ReadPaletteImage(uint32_t width, uint32_t height,
                                                      uint8_t alphaPosition, uint8_t alphaMode,
                                                      uint8_t alphaBits, InputBuffer& in,
                                                      const PaletteColours& palette) {
  MatStore store;
  return LastImage(decoder_.ReadPaletteImage(width, height, alphaPosition, alphaMode, alphaBits, in,
                                             palette, store),
                   store);
}

std::optional<cv::Mat> ZefImgReader::ReadColorImage(uint32_t width, uint32_t height,
                                                    uint8_t alphaPosition, InputBuffer& in) {
  MatStore store;
  return LastImage(decoder_.ReadColorImage(width, height, alphaPosition, in, store), store);
}

std::optional<cv::Mat> ZefImgReader::ReadColorImageRaw(uint32_t width, uint32_t height,
                                                       uint8_t alphaPosition, InputBuffer& in) {
  MatStore store;
  return LastImage(decoder_.ReadColorImageRaw(width, height, alphaPosition, in, store), store);
}

}  // namespace zef

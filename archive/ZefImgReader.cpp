// Read: signature and version, then the flow of the archive's version.
#include "archive/ZefImgReader.h"

#include <algorithm>
#include <new>

#include "archive/FileBytes.h"
#include "archive/FormatMessage.h"
#include "archive/ReaderMessages.h"

namespace zef {

using namespace reader_messages;

namespace {

// The signature and the version are judged before anything else is read, so
// an input that fails either fails the same way whatever follows.
bool SignatureOrVersionFails(const uint8_t* bytes, size_t size) {
  constexpr size_t kSignatureSize = sizeof kFileSignature;
  constexpr size_t kVersionEnd = kSignatureSize + 2;
  if (size >= kSignatureSize && !std::equal(bytes, bytes + kSignatureSize, kFileSignature)) {
    return true;
  }
  if (size < kVersionEnd) return false;
  const int version = bytes[kSignatureSize] | bytes[kSignatureSize + 1] << 8;
  return version != kVersion1 && version != kVersion2 && version != kVersion3;
}

}  // namespace

ZefImgReader::ZefImgReader() = default;
ZefImgReader::~ZefImgReader() = default;

std::string ZefImgReader::GetError() {
  std::string text;
  text.swap(error_);
  return text;
}

bool ZefImgReader::Fail(const char* message) {
  try {
    error_ = message;
  } catch (const std::bad_alloc&) {
    error_.clear();
  }
  return false;
}

std::optional<std::vector<cv::Mat>> ZefImgReader::Read(const std::string& fileName) {
  try {
    const std::optional<std::vector<uint8_t>> bytes =
        ReadFileBytes(fileName, kMaxArchiveSize, SignatureOrVersionFails);
    if (!bytes) {
      Fail(FormatMessage(kCouldNotOpenFile, fileName.c_str()).c_str());
      return std::nullopt;
    }
    return ReadMemory(bytes->data(), bytes->size());
  } catch (const std::bad_alloc&) {
    Fail(kOutOfMemory);
  }
  return std::nullopt;
}

std::optional<std::vector<cv::Mat>> ZefImgReader::ReadMemory(const uint8_t* data, size_t size) {
  try {
    InputBuffer in(data, size);
    return ReadArchive(in);
  } catch (const std::bad_alloc&) {
    Fail(kOutOfMemory);
  } catch (const cv::Exception&) {
    Fail(kOutOfMemory);
  }
  return std::nullopt;
}

std::optional<std::vector<cv::Mat>> ZefImgReader::ReadArchive(InputBuffer& in) {
  uint8_t signature[3] = {};
  for (uint8_t& byte : signature) in.ReadU8(byte);
  if (signature[0] != kFileSignature[0] || signature[1] != kFileSignature[1] ||
      signature[2] != kFileSignature[2] || in.HitEndOrFailed()) {
    Fail(kWrongHeader);
    return std::nullopt;
  }
  uint16_t version = 0;
  in.ReadU16(version);
  if (in.HitEndOrFailed()) {
    Fail(kWrongFile);
    return std::nullopt;
  }
  std::vector<cv::Mat> images;
  version_ = version;
  bool read = false;
  switch (version) {
    case kVersion1: read = ReadVersion1(in, images); break;
    case kVersion2: read = ReadVersion2(in, images); break;
    case kVersion3: read = ReadVersion3(in, images); break;
    default: Fail(kWrongVersion); break;
  }
  if (!read) return std::nullopt;
  return images;
}

bool ZefImgReader::ReadVersion1(InputBuffer& in, std::vector<cv::Mat>& images) {
  if (!ReadHeaderV1(in)) return false;
  std::optional<cv::Mat> image = ReadColourWords(width_, height_, in);
  if (!image) return false;
  images.push_back(std::move(*image));
  return true;
}

bool ZefImgReader::ReadVersion2(InputBuffer& in, std::vector<cv::Mat>& images) {
  ImageSpecifications specifications;
  if (!ReadHeader(in) || !ReadImageSpecifications(in, specifications, PaletteIndices::kWithout)) {
    return false;
  }
  // Each pass reads the image's marker and data, or fails: the loop is
  // bounded by the file, not by the image count.
  for (uint32_t i = 0; i < specifications.Count(); ++i) {
    if (!AtImage(in, specifications.DataOffset(i))) return Fail(kWrongImageData);
    std::optional<cv::Mat> image =
        ReadColourWords(specifications.Width(i), specifications.Height(i), in);
    if (!image) return false;
    images.push_back(std::move(*image));
  }
  return true;
}

bool ZefImgReader::ReadVersion3(InputBuffer& in, std::vector<cv::Mat>& images) {
  ImageSpecifications specifications;
  PaletteList palettes;
  if (!ReadHeader(in) || !ReadImageSpecifications(in, specifications, PaletteIndices::kWith) ||
      !ReadPalettes(in, &palettes)) {
    return false;
  }
  for (uint32_t i = 0; i < specifications.Count(); ++i) {
    if (!AtImage(in, specifications.DataOffset(i))) return Fail(kWrongImageData);
    const uint16_t paletteIndex = specifications.PaletteIndex(i);
    if (paletteIndex >= palettes.Count()) return Fail(kWrongImageData);
    std::optional<cv::Mat> image =
        ReadPaletteImage(specifications.Width(i), specifications.Height(i), header_.alphaPosition,
                         header_.alphaMode, header_.alphaBits, in, palettes[paletteIndex]);
    if (!image) return Fail(kWrongImageData);
    images.push_back(std::move(*image));
  }
  return true;
}

bool ZefImgReader::AtImage(InputBuffer& in, uint32_t dataOffset) {
  if (in.Tell() != int64_t{dataOffset}) return false;
  return in.ReadMarker(kImageMarker);
}

std::optional<cv::Mat> ZefImgReader::ReadColourWords(uint32_t width, uint32_t height,
                                                     InputBuffer& in) {
  return header_.compressionFlag == 0 ? ReadColorImageRaw(width, height, header_.alphaPosition, in)
                                      : ReadColorImage(width, height, header_.alphaPosition, in);
}

}  // namespace zef

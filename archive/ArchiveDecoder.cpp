// A whole read: signature and version, then the flow of the archive's
// version, image by image into the store.
#include "archive/ArchiveDecoder.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

#include "archive/FileBytes.h"
#include "archive/FormatMessage.h"
#include "archive/ReaderMessages.h"

namespace zef {

using namespace reader_messages;

std::string ArchiveDecoder::GetError() {
  std::string text;
  text.swap(error_);
  return text;
}

bool ArchiveDecoder::Fail(const char* message) {
  try {
    error_ = message;
  } catch (const std::bad_alloc&) {
    error_.clear();
  }
  return false;
}

Error ArchiveDecoder::ErrorCode() const {
  if (error_.empty()) return Error::kNone;
  if (error_ == kOutOfMemory) return Error::kOutOfMemory;
  if (error_ == kImageTooLarge) return Error::kImageTooLarge;
  if (error_.rfind("could not open file ", 0) == 0) return Error::kCannotOpen;
  return Error::kBadArchive;
}

ArchiveInfo ArchiveDecoder::Info() const {
  ArchiveInfo info;
  info.version = version_;
  info.header = header_;
  info.imageCount = imageCount_;
  info.startIndex = version_ >= kVersion3 && version_ <= kVersion4 ? startIndex_ : 0;
  info.alphaBits = AlphaBits();
  info.fileSize = fileSize_;
  return info;
}

uint8_t ArchiveDecoder::AlphaBits() const {
  // Version 4 entries carry 8-bit alpha whatever the header bytes say.
  if (version_ == kVersion4) return 8;
  if (header_.alphaMode == kAlphaModeNone) return 0;
  // Pixel codes read one alpha bit or else two; colour words a nibble.
  if (version_ == kVersion3) return header_.alphaBits == 1 ? 1 : 2;
  return 4;
}

bool ArchiveDecoder::DecodeFile(const std::string& fileName, ImageStore& store,
                                std::vector<DecodedImage>& images) {
  try {
    const std::optional<std::vector<uint8_t>> bytes = ReadArchiveBytes(fileName);
    if (!bytes) return Fail(FormatMessage(kCouldNotOpenFile, fileName.c_str()).c_str());
    return DecodeMemory(bytes->data(), bytes->size(), store, images);
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  return Fail(kOutOfMemory);
}

bool ArchiveDecoder::DecodeMemory(const uint8_t* data, size_t size, ImageStore& store,
                                  std::vector<DecodedImage>& images) {
  try {
    InputBuffer in(data, size);
    fileSize_ = size;
    decodedBytes_ = 0;
    if (DecodeArchive(in, store, images)) return true;
    images.clear();
    return false;
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  images.clear();
  return Fail(kOutOfMemory);
}

bool ArchiveDecoder::DecodeArchive(InputBuffer& in, ImageStore& store, std::vector<DecodedImage>& images) {
  uint8_t signature[3] = {};
  for (uint8_t& byte : signature) in.ReadU8(byte);
  if (signature[0] != kFileSignature[0] || signature[1] != kFileSignature[1] ||
      signature[2] != kFileSignature[2] || in.HitEndOrFailed()) {
    return Fail(kWrongHeader);
  }
  uint16_t version = 0;
  in.ReadU16(version);
  if (in.HitEndOrFailed()) return Fail(kWrongFile);
  version_ = version;
  switch (version) {
    case kVersion1: return ReadVersion1(in, store, images);
    case kVersion2: return ReadVersion2(in, store, images);
    case kVersion3: return ReadVersion3(in, store, images);
    case kVersion4: return newestVersion_ >= kVersion4 ? ReadVersion4(in, store, images) : Fail(kWrongVersion);
    default: return Fail(kWrongVersion);
  }
}

bool ArchiveDecoder::WithinLimits(uint32_t width, uint32_t height) {
  const uint64_t pixels = uint64_t{width} * height;
  const uint64_t bytes = pixels * (decodeAlpha_ && AlphaBits() != 0 ? 4 : 3);
  if ((limits_.maxPixelsPerImage != 0 && pixels > limits_.maxPixelsPerImage) ||
      (limits_.maxDecodedBytes != 0 && bytes > limits_.maxDecodedBytes - decodedBytes_)) {
    return Fail(kImageTooLarge);
  }
  decodedBytes_ += bytes;
  return true;
}

bool ArchiveDecoder::ReadVersion1(InputBuffer& in, ImageStore& store, std::vector<DecodedImage>& images) {
  if (!ReadHeaderV1(in)) return false;
  const uint64_t start = in.Position();
  if (!WithinLimits(width_, height_) || !ReadColourWords(width_, height_, in, store)) return false;
  images.push_back({0, width_, height_, 0, in.Position() - start, {}, {}});
  return true;
}

bool ArchiveDecoder::ReadVersion2(InputBuffer& in, ImageStore& store, std::vector<DecodedImage>& images) {
  ImageSpecifications specifications;
  if (!ReadHeader(in) || !ReadImageSpecifications(in, specifications, PaletteIndices::kWithout)) {
    return false;
  }
  // Each pass reads the image's marker and data, or fails: the loop is
  // bounded by the file, not by the image count.
  for (uint32_t i = 0; i < specifications.Count(); ++i) {
    const uint32_t offset = specifications.DataOffset(i);
    if (!AtImage(in, offset)) return Fail(kWrongImageData);
    const uint32_t width = specifications.Width(i), height = specifications.Height(i);
    if (!WithinLimits(width, height) || !ReadColourWords(width, height, in, store)) return false;
    images.push_back({i, width, height, 0, in.Position() - offset, {}, {}});
  }
  return true;
}

bool ArchiveDecoder::ReadVersion3(InputBuffer& in, ImageStore& store, std::vector<DecodedImage>& images) {
  ImageSpecifications specifications;
  PaletteList palettes;
  if (!ReadHeader(in) || !ReadImageSpecifications(in, specifications, PaletteIndices::kWith) ||
      !ReadPalettes(in, &palettes)) {
    return false;
  }
  const bool alpha = decodeAlpha_ && AlphaBits() != 0;
  for (uint32_t i = 0; i < specifications.Count(); ++i) {
    const uint32_t offset = specifications.DataOffset(i);
    if (!AtImage(in, offset)) return Fail(kWrongImageData);
    const uint16_t paletteIndex = specifications.PaletteIndex(i);
    if (paletteIndex >= palettes.Count()) return Fail(kWrongImageData);
    const uint32_t width = specifications.Width(i), height = specifications.Height(i);
    // A limit refuses with its own message; any fault of the data itself
    // is reported as the archive's.
    if (!WithinLimits(width, height)) return false;
    const PaletteColours palette = palettes[paletteIndex];
    if (!ReadPaletteImage(width, height, header_.alphaPosition, header_.alphaMode, header_.alphaBits, in,
                          palette, store, alpha)) {
      return Fail(kWrongImageData);
    }
    images.push_back({startIndex_ + i, width, height, palette.Count(), in.Position() - offset, {}, {}});
  }
  return true;
}

bool ArchiveDecoder::AtImage(InputBuffer& in, uint32_t dataOffset) {
  if (in.Tell() != int64_t{dataOffset}) return false;
  return in.ReadMarker(kImageMarker);
}

bool ArchiveDecoder::ReadColourWords(uint32_t width, uint32_t height, InputBuffer& in, ImageStore& store) {
  const bool alpha = decodeAlpha_ && AlphaBits() != 0;
  return header_.compressionFlag == 0
             ? ReadColorImageRaw(width, height, header_.alphaPosition, in, store, alpha)
             : ReadColorImage(width, height, header_.alphaPosition, in, store, alpha);
}

}  // namespace zef

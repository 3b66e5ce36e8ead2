// The steps of Read before the image data: headers, the image records and
// the palette block. Each test of "a short read" asks whether the stream
// has hit its end or failed by then.
#include "archive/ReaderMessages.h"
#include "archive/ArchiveDecoder.h"

namespace zef {

using namespace reader_messages;

namespace {

bool ReadEndOfHeader(InputBuffer& in) {
  uint8_t marker[3] = {};
  for (uint8_t& byte : marker) in.ReadU8(byte);
  return marker[0] == kEndOfHeader[0] && marker[1] == kEndOfHeader[1] &&
         marker[2] == kEndOfHeader[2] && in.Good();
}

}  // namespace

bool ArchiveDecoder::ReadHeaderV1(InputBuffer& in) {
  in.ReadU32(width_);
  in.ReadU32(height_);
  if (width_ == 0 || height_ == 0 || in.HitEndOrFailed()) return Fail(kWrongHeader);
  in.ReadU8(header_.channelCount);
  in.ReadU8(header_.valueSize);
  in.ReadU8(header_.colourBits);
  if (header_.channelCount != kVersion1Header.channelCount ||
      header_.valueSize != kVersion1Header.valueSize ||
      header_.colourBits != kVersion1Header.colourBits || in.HitEndOrFailed()) {
    return Fail(kWrongHeader);
  }
  in.ReadU8(header_.alphaBits);
  in.ReadU8(header_.alphaMode);
  in.ReadU8(header_.alphaPosition);
  if (header_.alphaBits != kVersion1Header.alphaBits ||
      header_.alphaMode != kVersion1Header.alphaMode ||
      header_.alphaPosition != kVersion1Header.alphaPosition || in.HitEndOrFailed()) {
    return Fail(kWrongHeader);
  }
  in.ReadU8(header_.compressionFlag);
  if (!ReadEndOfHeader(in)) return Fail(kWrongHeader);
  imageCount_ = 1;
  return true;
}

bool ArchiveDecoder::ReadHeader(InputBuffer& in) {
  in.ReadU32(imageCount_);
  if (imageCount_ == 0 || in.HitEndOrFailed()) return Fail(kWrongHeader);
  in.ReadU8(header_.channelCount);
  in.ReadU8(header_.valueSize);
  in.ReadU8(header_.colourBits);
  if (in.HitEndOrFailed()) return Fail(kWrongHeader);
  in.ReadU8(header_.alphaBits);
  in.ReadU8(header_.alphaMode);
  in.ReadU8(header_.alphaPosition);
  if (in.HitEndOrFailed()) return Fail(kWrongHeader);
  // Neither the compression flag nor the start index is tested: a short
  // read there shows at the end-of-header marker.
  in.ReadU8(header_.compressionFlag);
  startIndex_ = 0;
  if (version_ > kVersion2) in.ReadU32(startIndex_);
  if (!ReadEndOfHeader(in)) return Fail(kWrongHeader);
  return true;
}

bool ArchiveDecoder::ReadImageSpecifications(InputBuffer& in, ImageSpecifications& specifications,
                                           PaletteIndices paletteIndices) {
  if (version_ == kVersion3 && paletteIndices == PaletteIndices::kWithout) {
    return Fail(kNoPaletteVector);
  }
  if (!in.ReadMarker(kImageSpecificationsMarker)) return Fail(kWrongImageData);
  const bool withPaletteIndex = version_ == kVersion3;
  const uint32_t recordSize = withPaletteIndex ? kImageRecordSizeV3 : kImageRecordSizeV2;
  const uint64_t first = in.Position();
  // Whole records are passed over in place; only a record cut short is read
  // field by field, to fail just where a stream would. Either way every
  // pass consumes a record or fails, so the file bounds the loop.
  for (uint32_t n = 0; n < imageCount_; ++n) {
    if (in.Take(recordSize)) continue;
    uint16_t imageNumber = 0, paletteIndex = 0;
    uint32_t width = 0, height = 0, dataOffset = 0;
    in.ReadU16(imageNumber);
    in.ReadU32(width);
    in.ReadU32(height);
    if (withPaletteIndex) in.ReadU16(paletteIndex);
    if (in.HitEndOrFailed()) return Fail(kWrongImageData);
    // Not tested: a short offset shows at the first image's position test.
    in.ReadU32(dataOffset);
  }
  specifications = ImageSpecifications(
      RecordTable(in.Data(), in.Size(), first, imageCount_, recordSize), withPaletteIndex);
  return true;
}

bool ArchiveDecoder::ReadPalettes(InputBuffer& in, PaletteList* palettes) {
  if (palettes == nullptr || palettes->Count() != 0) return Fail(kPaletteVectorNotCorrect);
  PaletteSpecifications specifications;
  if (!ReadPaletteSpecifications(in, specifications)) {
    return Fail(kCouldNotReadPaletteSpecifications);
  }
  // Every pass reads a marker, which a failed stream cannot deliver, so the
  // palette records present in the file bound the loop.
  for (uint32_t n = 0; n < specifications.Count(); ++n) {
    if (!in.Failed()) in.Seek(specifications.DataOffset(n));
    PaletteColours palette;
    if (!ReadPaletteData(in, palette, specifications.EntryCount(n))) return false;
  }
  *palettes = PaletteList(in.Data(), in.Size(), specifications);
  return true;
}

bool ArchiveDecoder::ReadPaletteSpecifications(InputBuffer& in,
                                             PaletteSpecifications& specifications) {
  if (!in.ReadMarker(kPaletteSpecificationsMarker)) return Fail(kWrongPaletteSpecification);
  uint32_t paletteCount = 0;
  in.ReadU32(paletteCount);
  const uint64_t first = in.Position();
  for (uint32_t n = 0; n < paletteCount; ++n) {
    if (in.Take(kPaletteRecordSize)) continue;
    uint16_t paletteNumber = 0;
    uint32_t entryCount = 0, dataOffset = 0;
    in.ReadU16(paletteNumber);
    in.ReadU32(entryCount);
    if (in.HitEndOrFailed()) return Fail(kWrongPaletteSpec);
    in.ReadU32(dataOffset);
  }
  specifications = PaletteSpecifications(
      RecordTable(in.Data(), in.Size(), first, paletteCount, kPaletteRecordSize));
  return true;
}

bool ArchiveDecoder::ReadPaletteData(InputBuffer& in, PaletteColours& palette, uint32_t entryCount) {
  if (!in.ReadMarker(kPaletteDataMarker)) return Fail(kWrongPaletteData);
  // The colours are not tested: a short read shows at the next palette's
  // marker or at the first image's position test.
  const uint64_t first = in.Position();
  const uint64_t available = in.Remaining() / kPaletteColourSize;
  palette = PaletteColours(in.Data(), in.Size(), first,
                           entryCount < available ? entryCount : uint32_t(available));
  in.Skip(uint64_t{entryCount} * kPaletteColourSize);
  return true;
}

}  // namespace zef

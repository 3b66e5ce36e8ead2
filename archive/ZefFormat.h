// The .zef byte layout for the C++ code: the values come from zef_format.h,
// which describes the layout and which the firmware decoder includes too;
// here they get C++ names and types, shared by the writer, the reader and
// every tool that handles archives.
#pragma once

#include <cstdint>

#include "zef_format.h"

namespace zef {


inline constexpr uint8_t kFileSignature[ZEF_SIGNATURE_SIZE] =
    {uint8_t(ZEF_FILE_SIGNATURE >> 16), uint8_t(ZEF_FILE_SIGNATURE >> 8), uint8_t(ZEF_FILE_SIGNATURE)};
inline constexpr uint8_t kEndOfHeader[ZEF_SIGNATURE_SIZE] =
    {uint8_t(ZEF_END_OF_HEADER >> 16), uint8_t(ZEF_END_OF_HEADER >> 8), uint8_t(ZEF_END_OF_HEADER)};
inline constexpr uint8_t kImageSpecificationsMarker[ZEF_MARKER_SIZE] =
    {uint8_t(ZEF_IMAGE_SPECIFICATIONS_MARKER >> 8), uint8_t(ZEF_IMAGE_SPECIFICATIONS_MARKER)};
inline constexpr uint8_t kImageMarker[ZEF_MARKER_SIZE] = {uint8_t(ZEF_IMAGE_MARKER >> 8), uint8_t(ZEF_IMAGE_MARKER)};
inline constexpr uint8_t kPaletteSpecificationsMarker[ZEF_MARKER_SIZE] =
    {uint8_t(ZEF_PALETTE_SPECIFICATIONS_MARKER >> 8), uint8_t(ZEF_PALETTE_SPECIFICATIONS_MARKER)};
inline constexpr uint8_t kPaletteDataMarker[ZEF_MARKER_SIZE] =
    {uint8_t(ZEF_PALETTE_DATA_MARKER >> 8), uint8_t(ZEF_PALETTE_DATA_MARKER)};

inline constexpr int kVersion1 = ZEF_VERSION_1;
inline constexpr int kVersion2 = ZEF_VERSION_2;
inline constexpr int kVersion3 = ZEF_VERSION_3;
inline constexpr int kVersion4 = ZEF_VERSION_4;

// Section sizes in bytes.
inline constexpr uint32_t kHeaderSizeV1 = ZEF_HEADER_SIZE_V1;
inline constexpr uint32_t kHeaderSizeV2 = ZEF_HEADER_SIZE_V2;
inline constexpr uint32_t kHeaderSizeV3 = ZEF_HEADER_SIZE_V3;
inline constexpr uint32_t kHeaderSizeV4 = ZEF_HEADER_SIZE_V4;
inline constexpr uint32_t kImageRecordSizeV4 = ZEF_IMAGE_RECORD_SIZE_V4;
inline constexpr uint32_t kImageRecordSizeV2 = ZEF_IMAGE_RECORD_SIZE_V2;
inline constexpr uint32_t kImageRecordSizeV3 = ZEF_IMAGE_RECORD_SIZE_V3;
inline constexpr uint32_t kPaletteRecordSize = ZEF_PALETTE_RECORD_SIZE;
inline constexpr uint32_t kPaletteSpecificationsHead = ZEF_PALETTE_SPECIFICATIONS_HEAD;
inline constexpr uint32_t kPaletteColourSize = ZEF_PALETTE_COLOUR_SIZE;
inline constexpr uint32_t kPixelCodeRunSize = ZEF_PIXEL_CODE_RUN_SIZE;
inline constexpr uint32_t kColourWordRunSize = ZEF_COLOUR_WORD_RUN_SIZE;
inline constexpr uint32_t kColourWordSize = ZEF_COLOUR_WORD_SIZE;
inline constexpr uint32_t kImageEntryCountSize = ZEF_IMAGE_ENTRY_COUNT_SIZE;
inline constexpr uint32_t kLineEntryCountSize = ZEF_LINE_ENTRY_COUNT_SIZE;
inline constexpr uint32_t kMarkerSize = ZEF_MARKER_SIZE;

// Field positions inside the records, for reading a record table in place.
inline constexpr uint32_t kRecordWidthAt = ZEF_RECORD_WIDTH_AT;
inline constexpr uint32_t kRecordHeightAt = ZEF_RECORD_HEIGHT_AT;
inline constexpr uint32_t kRecordDataOffsetAtV2 = ZEF_RECORD_DATA_OFFSET_AT_V2;
inline constexpr uint32_t kRecordPaletteIndexAtV3 = ZEF_RECORD_PALETTE_INDEX_AT_V3;
inline constexpr uint32_t kRecordDataOffsetAtV3 = ZEF_RECORD_DATA_OFFSET_AT_V3;
inline constexpr uint32_t kRecordDataOffsetAtV4 = ZEF_RECORD_DATA_OFFSET_AT_V4;
inline constexpr uint32_t kPaletteRecordEntryCountAt = ZEF_PALETTE_RECORD_ENTRY_COUNT_AT;
inline constexpr uint32_t kPaletteRecordDataOffsetAt = ZEF_PALETTE_RECORD_DATA_OFFSET_AT;

// Runs are cut at this length because the run length is one byte.
inline constexpr uint32_t kMaxRunLength = ZEF_MAX_RUN_LENGTH;
// A line can hold as many runs as pixels, and its run count is a u16;
// 65535 stays free so that a count can never be mistaken for a wrapped one.
inline constexpr int kMaxImageWidth = ZEF_MAX_IMAGE_WIDTH;
// Version 3 stores paletteIndex as a u16 and writes one palette per image.
inline constexpr uint64_t kMaxImagesV3 = ZEF_MAX_IMAGES_V3;
inline constexpr uint64_t kMaxImagesV4 = ZEF_MAX_IMAGES_V4;

// Version 4 image blocks: a palette of RGBA entries and lines of op bytes.
inline constexpr uint32_t kV4ImageHead = ZEF_V4_IMAGE_HEAD;
inline constexpr uint32_t kV4EntrySize = ZEF_V4_ENTRY_SIZE;
inline constexpr uint32_t kV4MaxEntries = ZEF_V4_MAX_ENTRIES;
inline constexpr int kV4MaxIndexBits = ZEF_V4_MAX_INDEX_BITS;
inline constexpr uint32_t kV4LiteralMax = ZEF_V4_LITERAL_MAX;
inline constexpr uint32_t kV4RunMax = ZEF_V4_RUN_MAX;
inline constexpr uint8_t kV4OpRun = ZEF_V4_OP_RUN;
inline constexpr uint8_t kV4OpRunZero = ZEF_V4_OP_RUN_ZERO;
inline constexpr uint8_t kV4RunLengthMask = ZEF_V4_RUN_LENGTH_MASK;
// The header bytes a version 4 archive is written with; readers ignore them.
inline constexpr uint8_t kV4HeaderBytes[ZEF_HEADER_BYTE_COUNT] = {4, 1, 8, 8, 1, ZEF_ALPHA_POSITION_HIGH, 1};

// The fewest bytes of ops a version 4 line of `width` pixels takes.
inline constexpr uint64_t LeastV4LineBytes(uint64_t width) {
  return (width + ZEF_V4_PIXELS_PER_LEAST_BYTE - 1) / ZEF_V4_PIXELS_PER_LEAST_BYTE;
}
// Bytes that hold `count` indices of `indexBits` bits in a literal.
inline constexpr uint32_t V4LiteralBytes(uint32_t count, uint32_t indexBits) {
  return (count * indexBits + 7) / 8;
}
// Every dataOffset is a u32 absolute file position.
inline constexpr uint64_t kMaxArchiveSize = uint64_t{1} << 32;

// The seven header bytes, in file order; the same in every version.
struct HeaderBytes {
  uint8_t channelCount;
  uint8_t valueSize;
  uint8_t colourBits;
  uint8_t alphaBits;
  uint8_t alphaMode;
  uint8_t alphaPosition;
  uint8_t compressionFlag;
};
inline constexpr int kHeaderByteCount = ZEF_HEADER_BYTE_COUNT;

// Alpha position 1 puts the alpha bits at the low end of a stored value;
// every other value puts them at the high end (the writer writes 16).
inline constexpr uint8_t kAlphaPositionLow = ZEF_ALPHA_POSITION_LOW;
inline constexpr uint8_t kAlphaPositionHigh = ZEF_ALPHA_POSITION_HIGH;

// Alpha modes: no alpha in the stored values, graded from the mask's top
// bits, or two-level (all ones from mask byte 64 up).
inline constexpr uint8_t kAlphaModeNone = ZEF_ALPHA_MODE_NONE;
inline constexpr uint8_t kAlphaModeGraded = ZEF_ALPHA_MODE_GRADED;
inline constexpr uint8_t kAlphaModeTwoLevel = ZEF_ALPHA_MODE_TWO_LEVEL;
inline constexpr uint8_t kTwoLevelThreshold = ZEF_TWO_LEVEL_THRESHOLD;

// Version 1 archives are accepted only with these header bytes.
inline constexpr HeaderBytes kVersion1Header = {ZEF_VERSION1_HEADER_BYTES};

// A palette colour holds three 4-bit channels in its low 12 bits.
inline constexpr uint16_t kColourMask = ZEF_COLOUR_MASK;
inline constexpr int kColourTableSize = 1 << ZEF_COLOUR_BITS;

// Splits a stored u16 (palette colour or colour word) into its 4-bit
// channels, by the header's alpha position.
struct Nibbles {
  uint8_t red, green, blue, alpha;
};
inline constexpr Nibbles SplitColour(uint16_t value, uint8_t alphaPosition) {
  if (alphaPosition == kAlphaPositionLow) {
    return {uint8_t(value >> 12), uint8_t((value >> 8) & 15), uint8_t((value >> 4) & 15),
            uint8_t(value & 15)};
  }
  return {uint8_t((value >> 8) & 15), uint8_t((value >> 4) & 15), uint8_t(value & 15),
          uint8_t(value >> 12)};
}

}  // namespace zef

// Byte layout of the .zef image archive, shared by the writer, the reader
// and every tool that handles archives. All multi-byte integers are unsigned
// little-endian; markers are single bytes in the order given.
//
//  version 1 (read only)           version 2                      version 3
//  AA FF AA  signature             AA FF AA                       AA FF AA
//  u16 version = 1                 u16 version = 2                u16 version = 3
//  u32 width, u32 height           u32 imageCount                 u32 imageCount
//  7 header bytes                  7 header bytes                 7 header bytes
//                                                                 u32 startIndex
//  FF EE DD  end of header         FF EE DD                       FF EE DD
//  image data                      BE BA + 14-byte records        BE BA + 16-byte records
//                                  per image: AF FE, image data   FA FA u32 paletteCount
//                                                                  + 10-byte palette records
//                                                                 per palette: FA BE, u16 colours
//                                                                 per image: AF FE, image data
//
// Image data: raw u16 colour words (compression flag 0, versions 1/2), or
// run-length: u32 image entry count, then per line a u16 line entry count and
// its runs (u16 colour word + u8 length, or u8 pixel code + u8 length).
#pragma once

#include <cstdint>

namespace zef {


inline constexpr uint8_t kFileSignature[3] = {0xAA, 0xFF, 0xAA};
inline constexpr uint8_t kEndOfHeader[3] = {0xFF, 0xEE, 0xDD};
inline constexpr uint8_t kImageSpecificationsMarker[2] = {0xBE, 0xBA};
inline constexpr uint8_t kImageMarker[2] = {0xAF, 0xFE};
inline constexpr uint8_t kPaletteSpecificationsMarker[2] = {0xFA, 0xFA};
inline constexpr uint8_t kPaletteDataMarker[2] = {0xFA, 0xBE};

inline constexpr int kVersion1 = 1;
inline constexpr int kVersion2 = 2;
inline constexpr int kVersion3 = 3;

// Section sizes in bytes.
inline constexpr uint32_t kHeaderSizeV1 = 23;  // up to the single image's data
inline constexpr uint32_t kHeaderSizeV2 = 19;
inline constexpr uint32_t kHeaderSizeV3 = 23;  // adds the u32 startIndex
inline constexpr uint32_t kImageRecordSizeV2 = 14;  // imageNumber, width, height, dataOffset
inline constexpr uint32_t kImageRecordSizeV3 = 16;  // ... plus u16 paletteIndex
inline constexpr uint32_t kPaletteRecordSize = 10;  // paletteNumber, entryCount, dataOffset
inline constexpr uint32_t kPaletteSpecificationsHead = 6;  // marker + u32 paletteCount
inline constexpr uint32_t kPaletteColourSize = 2;
inline constexpr uint32_t kPixelCodeRunSize = 2;   // u8 code + u8 length
inline constexpr uint32_t kColourWordRunSize = 3;  // u16 word + u8 length
inline constexpr uint32_t kColourWordSize = 2;     // raw image data, one per pixel
inline constexpr uint32_t kImageEntryCountSize = 4;
inline constexpr uint32_t kLineEntryCountSize = 2;
inline constexpr uint32_t kMarkerSize = 2;

// Field positions inside the records, for reading a record table in place.
inline constexpr uint32_t kRecordWidthAt = 2;        // after the u16 imageNumber
inline constexpr uint32_t kRecordHeightAt = 6;
inline constexpr uint32_t kRecordDataOffsetAtV2 = 10;
inline constexpr uint32_t kRecordPaletteIndexAtV3 = 10;
inline constexpr uint32_t kRecordDataOffsetAtV3 = 12;
inline constexpr uint32_t kPaletteRecordEntryCountAt = 2;  // after the u16 paletteNumber
inline constexpr uint32_t kPaletteRecordDataOffsetAt = 6;

// Runs are cut at this length because the run length is one byte.
inline constexpr uint32_t kMaxRunLength = 255;
// A line can hold as many runs as pixels, and its run count is a u16;
// 65535 stays free so that a count can never be mistaken for a wrapped one.
inline constexpr int kMaxImageWidth = 65534;
// Version 3 stores paletteIndex as a u16 and writes one palette per image.
inline constexpr uint64_t kMaxImagesV3 = 65536;
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
inline constexpr int kHeaderByteCount = 7;

// Alpha position 1 puts the alpha bits at the low end of a stored value;
// every other value puts them at the high end (the writer writes 16).
inline constexpr uint8_t kAlphaPositionLow = 1;
inline constexpr uint8_t kAlphaPositionHigh = 16;

// Alpha modes: no alpha in the stored values, graded from the mask's top
// bits, or two-level (all ones from mask byte 64 up).
inline constexpr uint8_t kAlphaModeNone = 0;
inline constexpr uint8_t kAlphaModeGraded = 1;
inline constexpr uint8_t kAlphaModeTwoLevel = 2;
inline constexpr uint8_t kTwoLevelThreshold = 64;

// Version 1 archives are accepted only with these header bytes.
inline constexpr HeaderBytes kVersion1Header = {3, 2, 12, 4, 2, 16, 0};

// A palette colour holds three 4-bit channels in its low 12 bits.
inline constexpr uint16_t kColourMask = 0x0FFF;
inline constexpr int kColourTableSize = 4096;

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

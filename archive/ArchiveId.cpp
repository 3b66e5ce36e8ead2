#include "archive/ArchiveId.h"

#include <array>

namespace zef {

namespace {

// CRC-32 as zlib and PNG compute it; a table, as the host has room for it.
constexpr uint32_t kReflectedPolynomial = ZEF_ARCHIVE_ID_POLYNOMIAL;

constexpr std::array<uint32_t, 256> CrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1u) ? kReflectedPolynomial ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kCrcTable = CrcTable();

// `bytes` little-endian bytes of `value` into the running CRC.
uint32_t AddField(uint32_t crc, uint32_t value, int bytes) {
  for (int n = 0; n < bytes; ++n, value >>= 8) crc = kCrcTable[(crc ^ value) & 0xFFu] ^ (crc >> 8);
  return crc;
}

}  // namespace

uint32_t ArchiveId(uint32_t startIndex, const std::vector<ImageShape>& images) {
  uint32_t crc = ZEF_ARCHIVE_ID_SEED;
  crc = AddField(crc, uint32_t(images.size()), 4);
  crc = AddField(crc, startIndex, 4);
  for (const ImageShape& image : images) {
    crc = AddField(crc, image.width, 4);
    crc = AddField(crc, image.height, 4);
    crc = AddField(crc, image.alphaBits, 1);
  }
  return crc ^ ZEF_ARCHIVE_ID_SEED;
}

uint8_t ArchiveIdAlphaBits(int version, uint8_t alphaBits) {
  return version == kVersion1 || version == kVersion2 ? uint8_t(ZEF_WORD_ALPHA_BITS) : alphaBits;
}

uint32_t ArchiveId(const ArchiveInfo& info, const std::vector<DecodedImage>& images) {
  std::vector<ImageShape> shapes;
  shapes.reserve(images.size());
  for (const DecodedImage& image : images) {
    shapes.push_back({image.width, image.height, ArchiveIdAlphaBits(info.version, info.alphaBits)});
  }
  return ArchiveId(info.startIndex, shapes);
}

}  // namespace zef

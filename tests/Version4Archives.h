// Version 4 archives for the tests: indexed images built in a few lines,
// encoded through the public call, and the pieces of an archive a test
// looks at.
#pragma once

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "TestImages.h"
#include "archive/ZefDecode.h"
#include "writer/ZefEncode.h"

namespace zeftest {

constexpr size_t kV4RecordsAt = 25;  // header, then the image table's marker
constexpr size_t kV4RecordSize = 14;

// Entry (r, g, b, a) with a = 255 unless given.
inline zef::PaletteEntry Entry(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha = 255) {
  return {red, green, blue, alpha};
}

inline zef::IndexedImage Indexed(int width, int height, std::vector<zef::PaletteEntry> palette,
                                 std::vector<uint8_t> indices) {
  return {width, height, std::move(palette), std::move(indices)};
}

// `count` different visible entries.
inline std::vector<zef::PaletteEntry> DistinctEntries(int count, std::mt19937& random) {
  std::vector<zef::PaletteEntry> entries;
  for (int n = 0; n < count; ++n) {
    entries.push_back({uint8_t(n), uint8_t(random()), uint8_t(random()), uint8_t(1 + random() % 255)});
  }
  return entries;
}

// Random indices in stretches that are short or long as `stretch` says.
inline std::vector<uint8_t> RandomIndices(std::mt19937& random, size_t pixels, int entries, int stretch) {
  std::vector<uint8_t> indices(pixels);
  uint8_t index = 0;
  for (size_t n = 0; n < pixels; ++n) {
    if (random() % uint32_t(stretch) == 0) index = uint8_t(random() % uint32_t(entries));
    indices[n] = index;
  }
  return indices;
}

inline Bytes EncodedV4(const std::vector<zef::IndexedImage>& images, const zef::Options& options = {}) {
  zef::EncodeResult result = zef::EncodeIndexed(images, options);
  EXPECT_TRUE(result.Ok()) << result.message;
  return std::move(result.bytes);
}

inline size_t V4ImageOffset(const Bytes& archive, size_t n) {
  return U32At(archive, kV4RecordsAt + n * kV4RecordSize + 10);
}

// Image n's block behind its marker: indexBits, lastEntry, entries, lines.
inline Bytes V4Block(const Bytes& archive, size_t n = 0) {
  const size_t start = V4ImageOffset(archive, n) + 2;
  const size_t end = n + 1 < U32At(archive, 5) ? V4ImageOffset(archive, n + 1) : archive.size();
  return Bytes(archive.begin() + long(start), archive.begin() + long(end));
}

// The decoded image shows every pixel of the source as its entry says:
// colour and alpha exactly, black where the alpha is 0.
inline void ExpectShows(const zef::DecodedImage& decoded, const zef::IndexedImage& source) {
  ASSERT_EQ(decoded.width, uint32_t(source.width));
  ASSERT_EQ(decoded.height, uint32_t(source.height));
  ASSERT_EQ(decoded.pixels.size(), source.indices.size() * 3);
  ASSERT_EQ(decoded.alphaCodes.size(), source.indices.size());
  for (size_t p = 0; p < source.indices.size(); ++p) {
    zef::PaletteEntry entry = source.palette[source.indices[p]];
    if (entry.alpha == 0) entry = {};
    const uint8_t* bgr = &decoded.pixels[p * 3];
    ASSERT_EQ((std::vector<int>{bgr[2], bgr[1], bgr[0], decoded.alphaCodes[p]}),
              (std::vector<int>{entry.red, entry.green, entry.blue, entry.alpha}))
        << "pixel " << p;
  }
}

}  // namespace zeftest

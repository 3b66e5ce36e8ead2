#include "bench/PeerFormats.h"

#include <lz4.h>

#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace zefbench {

namespace {

constexpr unsigned kOpaque = 255;
constexpr size_t kPaletteEntryBytes = 4;
constexpr size_t kMostEntries = 256;

// The widened value of each level of a `bits`-bit channel.
unsigned Widened(unsigned level, int bits) { return level << (8 - bits) | level >> (2 * bits - 8); }

// For each 8-bit value, the level of `bits` bits whose widened value is
// nearest (the lower one on a tie).
std::array<uint8_t, 256> NearestLevels(int bits) {
  std::array<uint8_t, 256> nearest{};
  for (unsigned value = 0; value < 256; ++value) {
    unsigned best = 0, bestDistance = UINT_MAX;
    for (unsigned level = 0; level < (1u << bits); ++level) {
      const unsigned distance = unsigned(std::abs(int(Widened(level, bits)) - int(value)));
      if (distance < bestDistance) best = level, bestDistance = distance;
    }
    nearest[value] = uint8_t(best);
  }
  return nearest;
}

uint16_t LoadPixel(const uint8_t* at) {
  uint16_t pixel;
  std::memcpy(&pixel, at, sizeof pixel);
  return pixel;
}

// Channels of an RGB565 value as 0xRRGGBB, each widened.
uint32_t WidenedRgb(uint32_t pixel) {
  const uint32_t r = pixel >> 11, g = pixel >> 5 & 0x3F, b = pixel & 0x1F;
  return (r << 3 | r >> 2) << 16 | (g << 2 | g >> 4) << 8 | (b << 3 | b >> 2);
}

uint16_t PackedRgb565(uint32_t rgb) {
  return uint16_t((rgb >> 8 & 0xF800) | (rgb >> 5 & 0x07E0) | (rgb >> 3 & 0x001F));
}

}  // namespace

uint16_t NearestRgb565(uint8_t blue, uint8_t green, uint8_t red) {
  static const std::array<uint8_t, 256> five = NearestLevels(5), six = NearestLevels(6);
  return uint16_t(five[red] << 11 | six[green] << 5 | five[blue]);
}

cv::Vec3b WidenedRgb565(uint16_t pixel) {
  const uint32_t rgb = WidenedRgb(pixel);
  return cv::Vec3b(uint8_t(rgb), uint8_t(rgb >> 8), uint8_t(rgb >> 16));
}

std::vector<uint8_t> Rgb565A8Plane(const cv::Mat& bgra) {
  const size_t pixels = bgra.total();
  std::vector<uint8_t> plane(pixels * 3);
  size_t at = 0;
  for (int y = 0; y < bgra.rows; ++y) {
    const cv::Vec4b* row = bgra.ptr<cv::Vec4b>(y);
    for (int x = 0; x < bgra.cols; ++x, ++at) {
      const uint16_t pixel = NearestRgb565(row[x][0], row[x][1], row[x][2]);
      std::memcpy(&plane[at * 2], &pixel, sizeof pixel);
      plane[pixels * 2 + at] = row[x][3];
    }
  }
  return plane;
}

cv::Mat ShownRgb565A8(const cv::Mat& bgra) {
  cv::Mat shown(bgra.size(), CV_8UC4);
  for (int y = 0; y < bgra.rows; ++y) {
    const cv::Vec4b* row = bgra.ptr<cv::Vec4b>(y);
    cv::Vec4b* out = shown.ptr<cv::Vec4b>(y);
    for (int x = 0; x < bgra.cols; ++x) {
      const cv::Vec3b colour = WidenedRgb565(NearestRgb565(row[x][0], row[x][1], row[x][2]));
      out[x] = cv::Vec4b(colour[0], colour[1], colour[2], row[x][3]);
    }
  }
  return shown;
}

int PackedIndexBits(size_t entries) {
  for (int bits : {1, 2, 4}) {
    if (entries <= (size_t(1) << bits)) return bits;
  }
  return 8;
}

std::vector<uint8_t> PackedPalettePlane(const PalettedPicture& picture) {
  if (picture.palette.size() > kMostEntries) return {};
  const int bits = PackedIndexBits(picture.palette.size());
  const size_t entries = size_t(1) << bits;
  const size_t rowBytes = (size_t(picture.indices.cols) * bits + 7) / 8;
  std::vector<uint8_t> plane(entries * kPaletteEntryBytes + rowBytes * size_t(picture.indices.rows), 0);
  for (size_t e = 0; e < picture.palette.size(); ++e) {
    const cv::Vec4b& entry = picture.palette[e];
    uint8_t* at = &plane[e * kPaletteEntryBytes];
    at[0] = entry[2], at[1] = entry[1], at[2] = entry[0], at[3] = entry[3];
  }
  uint8_t* rows = plane.data() + entries * kPaletteEntryBytes;
  for (int y = 0; y < picture.indices.rows; ++y, rows += rowBytes) {
    const uint8_t* index = picture.indices.ptr<uint8_t>(y);
    for (int x = 0; x < picture.indices.cols; ++x) {
      const size_t bit = size_t(x) * bits;
      rows[bit / 8] |= uint8_t(index[x] << (8 - bits - bit % 8));
    }
  }
  return plane;
}

cv::Mat ShownPaletted(const PalettedPicture& picture) {
  cv::Mat shown(picture.indices.size(), CV_8UC4);
  for (int y = 0; y < shown.rows; ++y) {
    const uint8_t* index = picture.indices.ptr<uint8_t>(y);
    cv::Vec4b* out = shown.ptr<cv::Vec4b>(y);
    for (int x = 0; x < shown.cols; ++x) out[x] = picture.palette.at(index[x]);
  }
  return shown;
}

std::vector<uint8_t> Lz4Compress(const std::vector<uint8_t>& raw) {
  if (raw.size() > size_t(LZ4_MAX_INPUT_SIZE)) return {};
  std::vector<uint8_t> compressed(size_t(LZ4_compressBound(int(raw.size()))));
  const int written = LZ4_compress_default(reinterpret_cast<const char*>(raw.data()),
                                           reinterpret_cast<char*>(compressed.data()), int(raw.size()),
                                           int(compressed.size()));
  compressed.resize(written > 0 ? size_t(written) : 0);
  std::vector<uint8_t> back(raw.size());
  const int restored = LZ4_decompress_safe(reinterpret_cast<const char*>(compressed.data()),
                                           reinterpret_cast<char*>(back.data()), int(compressed.size()),
                                           int(back.size()));
  if (restored != int(raw.size()) || back != raw) return {};
  return compressed;
}

void BlendRgb565A8(const uint8_t* plane, int width, int height, uint16_t* canvas, size_t canvasStride) {
  const size_t pixels = size_t(width) * size_t(height);
  const uint8_t* alpha = plane + pixels * 2;
  for (int y = 0; y < height; ++y, canvas += canvasStride) {
    const uint8_t* colour = plane + size_t(y) * size_t(width) * 2;
    const uint8_t* rowAlpha = alpha + size_t(y) * size_t(width);
    for (int x = 0; x < width; ++x) {
      const unsigned a = rowAlpha[x];
      if (a == 0) continue;
      const uint16_t source = LoadPixel(colour + size_t(x) * 2);
      if (a == kOpaque) {
        canvas[x] = source;
        continue;
      }
      const uint32_t s = WidenedRgb(source), d = WidenedRgb(canvas[x]);
      uint32_t out = 0;
      for (unsigned shift = 0; shift < 24; shift += 8) {
        const uint32_t sc = s >> shift & 0xFF, dc = d >> shift & 0xFF;
        out |= (sc * a + dc * (kOpaque - a) + 127) / kOpaque << shift;
      }
      canvas[x] = PackedRgb565(out);
    }
  }
}

}  // namespace zefbench

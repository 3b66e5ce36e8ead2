// The peer formats the high-fidelity archive is measured against, built
// here from their description: what each stores, how many bytes that
// takes after LZ4, and how a display shows it.
//   RGB565A8 + LZ4: the RGB565 plane (each channel at its nearest 5- or
//     6-bit level) followed by the 8-bit alpha plane, LZ4-compressed.
//   Packed palette + LZ4: a palette of 2^bits RGBA entries and indices of
//     1, 2, 4 or 8 bits, each row starting on a byte, LZ4-compressed.
// Both count kPeerHeaderBytes of headers per image beside their data.
#pragma once

#include <opencv2/core.hpp>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zefbench {

inline constexpr uint64_t kPeerHeaderBytes = 24;

// The RGB565 value whose widened channels are nearest to the pixel's.
uint16_t NearestRgb565(uint8_t blue, uint8_t green, uint8_t red);
// An RGB565 value's channels as 8 bits, each widened by repeating its top
// bits (so that full intensity stays 255), as blue, green, red.
cv::Vec3b WidenedRgb565(uint16_t pixel);

// The uncompressed RGB565A8 data of a CV_8UC4 BGRA picture: width x height
// native-endian RGB565 values, then width x height alpha bytes.
std::vector<uint8_t> Rgb565A8Plane(const cv::Mat& bgra);
// The picture as RGB565A8 shows it: BGRA, colour widened, alpha exact.
cv::Mat ShownRgb565A8(const cv::Mat& bgra);

// A picture as palette indices (CV_8UC1) into RGBA entries (stored blue,
// green, red, alpha as cv::Vec4b).
struct PalettedPicture {
  cv::Mat indices;
  std::vector<cv::Vec4b> palette;
};
// The fewest of 1, 2, 4 or 8 bits that hold `entries` indices.
int PackedIndexBits(size_t entries);
// The uncompressed packed-palette data: 2^bits entries of R, G, B, A (the
// unused ones 0), then each row's indices packed high bits first, the row
// padded to a whole byte. Empty when the palette has more than 256 entries.
std::vector<uint8_t> PackedPalettePlane(const PalettedPicture& picture);
// The picture the palette shows, as CV_8UC4 BGRA.
cv::Mat ShownPaletted(const PalettedPicture& picture);

// LZ4_compress_default of the bytes; empty when LZ4 refuses them, or when
// LZ4_decompress_safe does not give them back exactly, so that no size is
// counted for data that could not be shown.
std::vector<uint8_t> Lz4Compress(const std::vector<uint8_t>& raw);

// Draws width x height RGB565A8 data (as Rgb565A8Plane lays it out) onto an
// RGB565 canvas of `canvasStride` pixels a row, by the device decoder's
// formula: per 8-bit channel out = (source * A + canvas * (255 - A) + 127) / 255,
// the canvas widened by repeating its top bits and stored by keeping them;
// A = 255 copies the pixel, A = 0 leaves the canvas as it was.
void BlendRgb565A8(const uint8_t* plane, int width, int height, uint16_t* canvas, size_t canvasStride);

}  // namespace zefbench

// Hand-built archives and a decode-everything helper for the device decoder
// tests: each archive is made field by field so that a test can break
// exactly one thing.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "TestImages.h"
#include "archive/ArchiveId.h"
#include "archive/ZefDecode.h"
#include "archive/ZefFormat.h"
#include "zefdec.h"

namespace zeftest {

struct Run {
  uint16_t value;  // pixel code or colour word
  uint8_t length;
};
using Line = std::vector<Run>;

inline void PutU16(Bytes& out, uint32_t value) {
  out.push_back(uint8_t(value));
  out.push_back(uint8_t(value >> 8));
}

inline void PutU32(Bytes& out, uint32_t value) {
  PutU16(out, value & 0xFFFF);
  PutU16(out, value >> 16);
}

inline void PutBytes(Bytes& out, std::initializer_list<uint8_t> bytes) {
  out.insert(out.end(), bytes);
}

// Run-length image data with correct counts; wordRuns picks 3-byte runs.
inline Bytes RunData(const std::vector<Line>& lines, bool wordRuns = false) {
  Bytes out;
  uint32_t total = 0;
  for (const Line& line : lines) total += uint32_t(line.size());
  PutU32(out, total);
  for (const Line& line : lines) {
    PutU16(out, uint32_t(line.size()));
    for (const Run& run : line) {
      if (wordRuns) {
        PutU16(out, run.value);
      } else {
        out.push_back(uint8_t(run.value));
      }
      out.push_back(run.length);
    }
  }
  return out;
}

struct ImageSpec {
  uint32_t width;
  uint32_t height;
  Bytes data;  // what follows the image marker
  uint16_t paletteIndex = 0;
};

inline zef::HeaderBytes CodeHeader(uint8_t alphaBits, uint8_t alphaMode,
                                   uint8_t alphaPosition = zef::kAlphaPositionHigh) {
  return {3, 1, uint8_t(8 - alphaBits), alphaBits, alphaMode, alphaPosition, 1};
}

inline zef::HeaderBytes WordHeader(uint8_t compression = 1,
                                   uint8_t alphaPosition = zef::kAlphaPositionHigh) {
  return {3, 2, 12, 4, 2, alphaPosition, compression};
}

inline void PutHeaderBytes(Bytes& out, const zef::HeaderBytes& h) {
  PutBytes(out, {h.channelCount, h.valueSize, h.colourBits, h.alphaBits, h.alphaMode,
                 h.alphaPosition, h.compressionFlag});
}

inline void PutSignature(Bytes& out, uint16_t version) {
  out.insert(out.end(), std::begin(zef::kFileSignature), std::end(zef::kFileSignature));
  PutU16(out, version);
}

inline void PutMarker(Bytes& out, const uint8_t (&marker)[2]) {
  out.insert(out.end(), std::begin(marker), std::end(marker));
}

inline void PutEndOfHeader(Bytes& out) {
  out.insert(out.end(), std::begin(zef::kEndOfHeader), std::end(zef::kEndOfHeader));
}

// Images follow each other directly, as the writer lays them out.
inline void PutImages(Bytes& out, const std::vector<ImageSpec>& images,
                      const std::vector<size_t>& offsetFields) {
  for (size_t i = 0; i < images.size(); ++i) {
    const uint32_t at = uint32_t(out.size());
    for (int b = 0; b < 4; ++b) out[offsetFields[i] + b] = uint8_t(at >> (8 * b));
    PutMarker(out, zef::kImageMarker);
    out.insert(out.end(), images[i].data.begin(), images[i].data.end());
  }
}

// Signature, image count and header bytes: how versions 2 and 3 begin.
inline Bytes ArchiveHead(uint16_t version, size_t imageCount, const zef::HeaderBytes& header) {
  Bytes out;
  PutSignature(out, version);
  PutU32(out, uint32_t(imageCount));
  PutHeaderBytes(out, header);
  return out;
}

// The image table; returns where each record's data offset goes, which
// PutImages fills in. Version 3 records hold a palette index.
inline std::vector<size_t> PutImageRecords(Bytes& out, const std::vector<ImageSpec>& images,
                                           bool paletteIndex) {
  PutMarker(out, zef::kImageSpecificationsMarker);
  std::vector<size_t> offsetFields;
  for (size_t i = 0; i < images.size(); ++i) {
    PutU16(out, uint32_t(i));
    PutU32(out, images[i].width);
    PutU32(out, images[i].height);
    if (paletteIndex) PutU16(out, images[i].paletteIndex);
    offsetFields.push_back(out.size());
    PutU32(out, 0);
  }
  return offsetFields;
}

inline Bytes ArchiveV3(const zef::HeaderBytes& header, uint32_t startIndex,
                       const std::vector<ImageSpec>& images,
                       const std::vector<std::vector<uint16_t>>& palettes) {
  Bytes out = ArchiveHead(zef::kVersion3, images.size(), header);
  PutU32(out, startIndex);
  PutEndOfHeader(out);
  const std::vector<size_t> offsetFields = PutImageRecords(out, images, true);
  PutMarker(out, zef::kPaletteSpecificationsMarker);
  PutU32(out, uint32_t(palettes.size()));
  uint32_t at = uint32_t(out.size() + palettes.size() * zef::kPaletteRecordSize);
  for (size_t j = 0; j < palettes.size(); ++j) {
    PutU16(out, uint32_t(j));
    PutU32(out, uint32_t(palettes[j].size()));
    PutU32(out, at);
    at += 2 + 2 * uint32_t(palettes[j].size());
  }
  for (const auto& palette : palettes) {
    PutMarker(out, zef::kPaletteDataMarker);
    for (uint16_t colour : palette) PutU16(out, colour);
  }
  PutImages(out, images, offsetFields);
  return out;
}

inline Bytes ArchiveV2(const zef::HeaderBytes& header, const std::vector<ImageSpec>& images) {
  Bytes out = ArchiveHead(zef::kVersion2, images.size(), header);
  PutEndOfHeader(out);
  PutImages(out, images, PutImageRecords(out, images, false));
  return out;
}

inline Bytes ArchiveV1(const zef::HeaderBytes& header, const ImageSpec& image) {
  Bytes out;
  PutSignature(out, zef::kVersion1);
  PutU32(out, image.width);
  PutU32(out, image.height);
  PutHeaderBytes(out, header);
  PutEndOfHeader(out);
  out.insert(out.end(), image.data.begin(), image.data.end());
  return out;
}

// Version 4: the header and records of version 2 with a start index, each
// image's data (what follows its marker) given whole.
inline Bytes ArchiveV4(uint32_t startIndex, const std::vector<ImageSpec>& images) {
  Bytes out = ArchiveHead(zef::kVersion4, images.size(), {4, 1, 8, 8, 1, 16, 1});
  PutU32(out, startIndex);
  PutEndOfHeader(out);
  PutImages(out, images, PutImageRecords(out, images, false));
  return out;
}

struct V4Entry {
  uint8_t red, green, blue, alpha;
};

// `count` entries of any colour and alpha.
inline std::vector<V4Entry> RandomV4Entries(std::mt19937& random, size_t count) {
  std::vector<V4Entry> entries(count);
  for (V4Entry& e : entries) e = {uint8_t(random()), uint8_t(random()), uint8_t(random()), uint8_t(random())};
  return entries;
}

// A version 4 image block of random ops: literals, runs and runs of entry
// 0 in any mix, whatever a writer would choose. Gives the image's entry of
// every pixel, row by row, in `shown`.
inline Bytes RandomV4Data(std::mt19937& random, uint32_t width, uint32_t height, uint32_t bits,
                          const std::vector<V4Entry>& entries, std::vector<V4Entry>& shown) {
  Bytes out = {uint8_t(bits), uint8_t(entries.size() - 1)};
  for (const V4Entry& e : entries) PutBytes(out, {e.red, e.green, e.blue, e.alpha});
  const auto anyIndex = [&] { return uint32_t(random() % entries.size()); };
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width;) {
      const uint32_t kind = random() % 3, left = width - x;
      if (kind == 0) {
        const uint32_t n = 1 + random() % std::min(left, 128u);
        out.push_back(uint8_t(n - 1));
        uint32_t pending = 0, pendingBits = 0;
        for (uint32_t i = 0; i < n; ++i) {
          const uint32_t index = anyIndex();
          shown.push_back(entries[index]);
          pending = pending << bits | index;
          for (pendingBits += bits; pendingBits >= 8; pendingBits -= 8) {
            out.push_back(uint8_t(pending >> (pendingBits - 8)));
          }
        }
        if (pendingBits) out.push_back(uint8_t(pending << (8 - pendingBits)));
        x += n;
      } else {
        const uint32_t n = 1 + random() % std::min(left, 64u);
        const uint32_t index = kind == 1 ? anyIndex() : 0;
        out.push_back(uint8_t((kind == 1 ? 0x80 : 0xC0) | (n - 1)));
        if (kind == 1) out.push_back(uint8_t(index));
        shown.insert(shown.end(), n, entries[index]);
        x += n;
      }
    }
  }
  return out;
}

// One image decoded by the device decoder: pixels in the format asked for
// (BGR888 as a cv::Mat, 16-bit formats as a CV_16UC1 Mat) and its alpha.
struct DeviceImage {
  int result = ZEFDEC_OK;
  cv::Mat pixels;
  cv::Mat alpha;
};

inline DeviceImage DecodeWithDevice(const zefdec_archive& archive, uint32_t index,
                                    zefdec_format format) {
  DeviceImage out;
  zefdec_image_info info{};
  out.result = zefdec_info(&archive, index, &info);
  if (out.result != ZEFDEC_OK) return out;
  const int type = format == ZEFDEC_BGR888 ? CV_8UC3 : CV_16UC1;
  out.pixels.create(int(info.height), int(info.width), type);
  out.alpha.create(int(info.height), int(info.width), CV_8UC1);
  zefdec_image image;
  out.result = zefdec_begin(&image, &archive, index, format);
  for (uint32_t y = 0; out.result == ZEFDEC_OK && y < info.height; ++y) {
    out.result = zefdec_line(&image, out.pixels.ptr(int(y)), out.alpha.ptr(int(y)), info.width);
  }
  return out;
}

// The same image rebuilt from its spans, every pixel covered once.
inline DeviceImage DecodeWithSpans(const zefdec_archive& archive, uint32_t index,
                                   zefdec_format format) {
  DeviceImage out;
  zefdec_image_info info{};
  out.result = zefdec_info(&archive, index, &info);
  if (out.result != ZEFDEC_OK) return out;
  out.pixels.create(int(info.height), int(info.width), format == ZEFDEC_BGR888 ? CV_8UC3 : CV_16UC1);
  out.alpha.create(int(info.height), int(info.width), CV_8UC1);
  cv::Mat covered(int(info.height), int(info.width), CV_8UC1, cv::Scalar(0));
  zefdec_image image;
  zefdec_span span;
  out.result = zefdec_begin(&image, &archive, index, format);
  while (out.result == ZEFDEC_OK && (out.result = zefdec_next_span(&image, &span)) == ZEFDEC_OK) {
    for (uint32_t x = span.x; x < span.x + span.length; ++x) {
      const int row = int(span.y), column = int(x);
      if (format == ZEFDEC_BGR888) {
        out.pixels.at<cv::Vec3b>(row, column) =
            cv::Vec3b(uint8_t(span.pixel), uint8_t(span.pixel >> 8), uint8_t(span.pixel >> 16));
      } else {
        out.pixels.at<uint16_t>(row, column) = uint16_t(span.pixel);
      }
      out.alpha.at<uint8_t>(row, column) = span.alpha;
      ++covered.at<uint8_t>(row, column);
    }
  }
  if (out.result == ZEFDEC_END) {
    out.result = cv::countNonZero(covered != 1) == 0 ? int(ZEFDEC_OK) : int(ZEFDEC_E_RUN);
  }
  return out;
}

// An archive behind zefdec_open_reader, as in SPI flash: counts the calls,
// keeps each one's offset, length and buffer, and fails the test on any
// read outside the archive. `failAt` makes that call (counted from 1) fail.
struct FlashArchive {
  struct Call {
    uint32_t offset, length;
    uintptr_t buffer;
  };
  Bytes bytes;
  zefdec_reader reader{};
  size_t calls = 0, failAt = 0, bytesRead = 0;
  bool outside = false;
  std::vector<Call> reads;

  explicit FlashArchive(Bytes b) : bytes(std::move(b)) {}
  FlashArchive(const FlashArchive&) = delete;

  static int Read(void* user, uint32_t offset, void* buffer, uint32_t length) {
    auto* flash = static_cast<FlashArchive*>(user);
    ++flash->calls;
    flash->reads.push_back({offset, length, reinterpret_cast<uintptr_t>(buffer)});
    flash->bytesRead += length;
    if (offset > flash->bytes.size() || length > flash->bytes.size() - offset) {
      flash->outside = true;
      return -1;
    }
    std::copy_n(flash->bytes.begin() + offset, length, static_cast<uint8_t*>(buffer));
    return flash->calls == flash->failAt ? -1 : 0;
  }
  int Open(zefdec_archive& archive, unsigned flags = 0) {
    return zefdec_open_reader(&archive, &reader, Read, this, bytes.size(), flags);
  }
  // The first read that is not whole words at a word offset into a
  // word-aligned buffer, though the archive's end allowed it; empty if none.
  std::string MisalignedRead() const {
    for (const Call& c : reads) {
      const bool toTheEnd = size_t(c.offset) + c.length == bytes.size();
      if (c.buffer % 4 || c.offset % 4 || (c.length % 4 && !toTheEnd)) {
        return "offset " + std::to_string(c.offset) + ", length " + std::to_string(c.length) +
               ", buffer " + std::to_string(c.buffer % 4) + " bytes past a word, archive of " +
               std::to_string(bytes.size());
      }
    }
    return {};
  }
};

// The device's archive id is the library's, opened in memory and behind a
// callback, checked or trusted.
inline void ExpectArchiveIdsAgree(const Bytes& bytes) {
  zef::Options options;
  options.keepPixels = false;
  const zef::DecodeResult decoded = zef::Decode(bytes.data(), bytes.size(), options);
  ASSERT_TRUE(decoded.Ok()) << decoded.message;
  const uint32_t id = zef::ArchiveId(decoded.info, decoded.images);
  for (const unsigned flags : {0u, unsigned(ZEFDEC_TRUSTED)}) {
    zefdec_archive archive;
    ASSERT_EQ(zefdec_open_with(&archive, bytes.data(), bytes.size(), flags), ZEFDEC_OK);
    EXPECT_EQ(zefdec_archive_id(&archive), id) << "in memory, flags " << flags;
    FlashArchive flash(bytes);
    ASSERT_EQ(flash.Open(archive, flags), ZEFDEC_OK);
    EXPECT_EQ(zefdec_archive_id(&archive), id) << "behind a callback, flags " << flags;
  }
}

// How a canvas format lays out its pixels: bytes per pixel, or for packed
// grey the bits per pixel; pages hold columns of 8 rows a byte.
struct CanvasLayout {
  uint32_t bytes, bits;
  bool pages;
};

inline CanvasLayout LayoutOf(zefdec_canvas_format format) {
  switch (format) {
    case ZEFDEC_CANVAS_XRGB8888:
    case ZEFDEC_CANVAS_ARGB8888: return {4, 32, false};
    case ZEFDEC_CANVAS_RGB888:
    case ZEFDEC_CANVAS_BGR888: return {3, 24, false};
    case ZEFDEC_CANVAS_L8: return {1, 8, false};
    case ZEFDEC_CANVAS_L4: return {0, 4, false};
    case ZEFDEC_CANVAS_L2: return {0, 2, false};
    case ZEFDEC_CANVAS_L1: return {0, 1, false};
    case ZEFDEC_CANVAS_L1_PAGES: return {0, 1, true};
    default: return {2, 16, false};
  }
}

// The shortest stride of a canvas `width` pixels wide.
inline uint32_t RowBytes(zefdec_canvas_format format, uint32_t width) {
  const CanvasLayout layout = LayoutOf(format);
  return layout.pages ? width : (width * layout.bits + 7) / 8;
}

// A framebuffer for zefdec_draw: `height` rows (or pages of 8 rows) of
// `stride` bytes, then a guard row, all filled with bytes from `seed` so
// that every pixel that the draw leaves alone can be told from one it writes.
struct Canvas {
  zefdec_canvas_format format;
  uint32_t width, height, stride;
  std::vector<uint32_t> storage;  // aligned for every pixel type

  Canvas(zefdec_canvas_format f, uint32_t w, uint32_t h, uint32_t s, uint32_t seed)
      : format(f), width(w), height(h), stride(s),
        storage((size_t(s) * ((LayoutOf(f).pages ? (h + 7) / 8 : h) + 1) + 3) / 4) {
    std::mt19937 random(seed);
    for (uint32_t& word : storage) word = uint32_t(random());
  }
  uint8_t* Bytes() { return reinterpret_cast<uint8_t*>(storage.data()); }
  zefdec_canvas View() { return {storage.data(), width, height, stride, format}; }
  uint32_t BytesPerPixel() const { return LayoutOf(format).bytes; }
  // Grey pixels: the byte holding (x, y) and where its level sits.
  std::pair<uint8_t*, uint32_t> Packed(uint32_t x, uint32_t y) {
    const CanvasLayout layout = LayoutOf(format);
    if (layout.pages) return {Bytes() + size_t(y / 8) * stride + x, y % 8};
    return {Bytes() + size_t(y) * stride + x * layout.bits / 8, 8 - layout.bits - x * layout.bits % 8};
  }
  // Pixels as their native-endian type; 3 bytes as the first | second << 8
  // | third << 16; grey as its level.
  uint32_t Get(uint32_t x, uint32_t y) {
    const CanvasLayout layout = LayoutOf(format);
    if (layout.bytes == 0) {
      const auto [at, shift] = Packed(x, y);
      return *at >> shift & ((1u << layout.bits) - 1);
    }
    uint8_t* at = Bytes() + size_t(y) * stride + x * layout.bytes;
    if (layout.bytes == 4) return *reinterpret_cast<uint32_t*>(at);
    if (layout.bytes == 3) return at[0] | at[1] << 8 | at[2] << 16;
    if (layout.bytes == 1) return *at;
    return *reinterpret_cast<uint16_t*>(at);
  }
  void Set(uint32_t x, uint32_t y, uint32_t pixel) {
    const CanvasLayout layout = LayoutOf(format);
    if (layout.bytes == 0) {
      const auto [at, shift] = Packed(x, y);
      const uint32_t top = (1u << layout.bits) - 1;
      *at = uint8_t((*at & ~(top << shift)) | (pixel & top) << shift);
      return;
    }
    uint8_t* at = Bytes() + size_t(y) * stride + x * layout.bytes;
    if (layout.bytes == 4) {
      *reinterpret_cast<uint32_t*>(at) = pixel;
    } else if (layout.bytes == 3) {
      at[0] = uint8_t(pixel), at[1] = uint8_t(pixel >> 8), at[2] = uint8_t(pixel >> 16);
    } else if (layout.bytes == 1) {
      *at = uint8_t(pixel);
    } else {
      *reinterpret_cast<uint16_t*>(at) = uint16_t(pixel);
    }
  }
};

inline uint32_t Swapped16(uint32_t pixel) { return (pixel >> 8 | pixel << 8) & 0xFFFF; }

// One canvas pixel at (x, y) with a BGR source pixel of alpha `alpha` put
// over it, by the documented formulas: canvas channels widened by
// repeating their top bits, out = (source * A + canvas * (255 - A) + 127)
// / 255, top bits kept; "over" on ARGB8888; on grey, the BT.601 luma
// blended with the level's grey, then the level by threshold or Bayer.
inline uint32_t BlendedPixel(zefdec_canvas_format format, uint32_t pixel, cv::Vec3b source,
                             uint32_t alpha, uint32_t x = 0, uint32_t y = 0,
                             uint8_t dither = ZEFDEC_DITHER_THRESHOLD) {
  const uint32_t s[3] = {source[2], source[1], source[0]};  // r, g, b
  const CanvasLayout layout = LayoutOf(format);
  if (layout.bits <= 8) {
    static const uint32_t bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
    const uint32_t top = (1u << layout.bits) - 1;
    const uint32_t luma = (77 * s[0] + 150 * s[1] + 29 * s[2] + 128) >> 8;
    const uint32_t grey = (luma * alpha + pixel * 255 / top * (255 - alpha) + 127) / 255;
    const uint32_t t = dither == ZEFDEC_DITHER_BAYER ? 16 * bayer[y % 4][x % 4] + 8 : 127;
    return (grey * top + t) / 255;
  }
  uint32_t canvas[3];  // r, g, b
  const bool blueFirst = format == ZEFDEC_CANVAS_BGR565 || format == ZEFDEC_CANVAS_BGR565_SWAPPED;
  if (layout.bytes >= 3) {
    const bool redLast = format == ZEFDEC_CANVAS_BGR888;
    for (int c = 0; c < 3; ++c) canvas[c] = (pixel >> (layout.bytes == 3 && !redLast ? 8 * c : 16 - 8 * c)) & 255;
  } else {
    if (format == ZEFDEC_CANVAS_RGB565_SWAPPED || format == ZEFDEC_CANVAS_BGR565_SWAPPED) pixel = Swapped16(pixel);
    const uint32_t r = blueFirst ? pixel & 31 : pixel >> 11, g = (pixel >> 5) & 63, b = blueFirst ? pixel >> 11 : pixel & 31;
    canvas[0] = r << 3 | r >> 2;
    canvas[1] = g << 2 | g >> 4;
    canvas[2] = b << 3 | b >> 2;
  }
  uint32_t out[3];
  if (format == ZEFDEC_CANVAS_ARGB8888) {
    const uint32_t under = ((pixel >> 24) * (255 - alpha) + 127) / 255, total = alpha + under;
    for (int c = 0; c < 3; ++c) out[c] = (s[c] * alpha + canvas[c] * under + total / 2) / total;
    return total << 24 | out[0] << 16 | out[1] << 8 | out[2];
  }
  for (int c = 0; c < 3; ++c) out[c] = (s[c] * alpha + canvas[c] * (255 - alpha) + 127) / 255;
  if (format == ZEFDEC_CANVAS_XRGB8888) return (pixel & 0xFF000000u) | out[0] << 16 | out[1] << 8 | out[2];
  if (format == ZEFDEC_CANVAS_RGB888) return out[0] | out[1] << 8 | out[2] << 16;
  if (format == ZEFDEC_CANVAS_BGR888) return out[2] | out[1] << 8 | out[0] << 16;
  const uint32_t r = out[0] >> 3, g = out[1] >> 2, b = out[2] >> 3;
  const uint32_t packed = blueFirst ? b << 11 | g << 5 | r : r << 11 | g << 5 | b;
  return format == ZEFDEC_CANVAS_RGB565 || format == ZEFDEC_CANVAS_BGR565 ? packed : Swapped16(packed);
}

// What drawing `image` (BGR) with its per-pixel `alpha` at (x, y) with
// `options` (nullptr: the defaults) must make of the canvas.
inline void DrawReference(Canvas& canvas, const cv::Mat& image, const cv::Mat& alpha, int64_t x,
                          int64_t y, const zefdec_draw_options* options = nullptr) {
  const zefdec_draw_options plain = ZEFDEC_DRAW_OPTIONS_DEFAULT;
  const zefdec_draw_options& o = options ? *options : plain;
  const cv::Vec3b colour(uint8_t(o.colour), uint8_t(o.colour >> 8), uint8_t(o.colour >> 16));
  for (int row = 0; row < image.rows; ++row) {
    for (int column = 0; column < image.cols; ++column) {
      const int64_t cx = x + column, cy = y + row;
      if (cx < 0 || cy < 0 || cx >= canvas.width || cy >= canvas.height) continue;
      const uint32_t a = (alpha.at<uint8_t>(row, column) * uint32_t(o.opacity) + 127) / 255;
      if (a == 0) continue;
      canvas.Set(uint32_t(cx), uint32_t(cy),
                 BlendedPixel(canvas.format, canvas.Get(uint32_t(cx), uint32_t(cy)),
                              o.recolour ? colour : image.at<cv::Vec3b>(row, column), a, uint32_t(cx),
                              uint32_t(cy), o.dither));
    }
  }
}

}  // namespace zeftest

// How the device decoder fills runs: its stores may spill past a run onto
// pixels that later runs of the line overwrite, but never past the line,
// in any format, for any width and any place of the last run.
#include <gtest/gtest.h>

#include <cstring>

#include "DeviceArchives.h"

using namespace zeftest;

namespace {

constexpr uint8_t kUntouched = 0xAB;
// More than any store can spill.
constexpr uint32_t kGuardPixels = 16;
const std::vector<uint16_t> kPalette = {0x0F80, 0x012F, 0x0ACE};

// Lines of `width` pixels whose runs end at every kind of place: one run,
// a long run then a pixel, a pixel then a long run, an empty run between,
// and many short runs.
std::vector<Line> LinesOfWidth(uint32_t width) {
  auto length = [](uint32_t n) { return uint8_t(n); };
  std::vector<Line> lines = {{{0, length(width)}}};
  if (width >= 2) {
    lines.push_back({{1, length(width - 1)}, {2, 1}});
    lines.push_back({{2, 1}, {0, length(width - 1)}});
    lines.push_back({{0, length(width / 2)}, {1, 0}, {2, length(width - width / 2)}});
  }
  Line shortRuns;
  for (uint32_t x = 0; x < width; x += 3) shortRuns.push_back({uint16_t(x % 3), length(std::min(3u, width - x))});
  lines.push_back(shortRuns);
  return lines;
}

Bytes OneImage(uint32_t width, const std::vector<Line>& lines) {
  return ArchiveV3(CodeHeader(0, 0), 0, {{width, uint32_t(lines.size()), RunData(lines)}}, {kPalette});
}

uint32_t BytesPerPixel(zefdec_format format) { return format == ZEFDEC_BGR888 ? 3 : 2; }

// The next line as the spans describe it, in the format's bytes.
std::vector<uint8_t> LineFromSpans(zefdec_image& image, uint32_t width, zefdec_format format) {
  std::vector<uint8_t> line(width * BytesPerPixel(format), 0);
  zefdec_span span;
  for (uint32_t filled = 0; filled < width && zefdec_next_span(&image, &span) == ZEFDEC_OK;
       filled = span.x + span.length) {
    for (uint32_t x = span.x; x < span.x + span.length; ++x) {
      std::memcpy(&line[x * BytesPerPixel(format)], &span.pixel, BytesPerPixel(format));
    }
  }
  return line;
}

TEST(DeviceFill, StoresStayInsideTheLineAndLaterRunsWin) {
  for (zefdec_format format : {ZEFDEC_RGB565, ZEFDEC_ARGB4444, ZEFDEC_BGR888}) {
    for (uint32_t width = 1; width <= 80; ++width) {
      const std::vector<Line> lines = LinesOfWidth(width);
      const Bytes bytes = OneImage(width, lines);
      zefdec_archive archive;
      ASSERT_EQ(zefdec_open(&archive, bytes.data(), bytes.size()), ZEFDEC_OK) << width;
      zefdec_image decoded, spans;
      ASSERT_EQ(zefdec_begin(&decoded, &archive, 0, format), ZEFDEC_OK);
      ASSERT_EQ(zefdec_begin(&spans, &archive, 0, format), ZEFDEC_OK);
      const size_t lineBytes = width * BytesPerPixel(format);
      for (size_t y = 0; y < lines.size(); ++y) {
        // 16-bit lines must be aligned for their pixels
        std::vector<uint16_t> buffer((lineBytes + kGuardPixels * 3) / 2, kUntouched << 8 | kUntouched);
        uint8_t* line = reinterpret_cast<uint8_t*>(buffer.data());
        ASSERT_EQ(zefdec_line(&decoded, line, nullptr, width), ZEFDEC_OK);
        const std::vector<uint8_t> expected = LineFromSpans(spans, width, format);
        EXPECT_EQ(std::vector<uint8_t>(line, line + lineBytes), expected)
            << "format " << format << ", width " << width << ", line " << y;
        for (size_t at = lineBytes; at < buffer.size() * 2; ++at) {
          ASSERT_EQ(line[at], kUntouched) << "format " << format << ", width " << width
                                          << ", line " << y << ", byte " << at;
        }
      }
    }
  }
}

TEST(DeviceFill, AlphaAloneWritesNoPixels) {
  const Bytes bytes = ArchiveV3(CodeHeader(2, 1), 0, {{40, 1, RunData({{{0xC0, 30}, {0x41, 10}}})}},
                                {kPalette});
  zefdec_archive archive;
  ASSERT_EQ(zefdec_open(&archive, bytes.data(), bytes.size()), ZEFDEC_OK);
  for (zefdec_format format : {ZEFDEC_RGB565, ZEFDEC_ARGB4444, ZEFDEC_BGR888}) {
    zefdec_image image;
    ASSERT_EQ(zefdec_begin(&image, &archive, 0, format), ZEFDEC_OK);
    std::vector<uint8_t> alpha(40, kUntouched);
    ASSERT_EQ(zefdec_line(&image, nullptr, alpha.data(), 40), ZEFDEC_OK) << format;
    // the top two bits of a code are its alpha code: 3, then 1
    EXPECT_EQ(alpha[0], 255);
    EXPECT_EQ(alpha[29], 255);
    EXPECT_EQ(alpha[30], 85);
    EXPECT_EQ(alpha[39], 85);
  }
}

}  // namespace

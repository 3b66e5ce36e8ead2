// The device decoder on an archive behind a read callback: bounded calls
// per line, read failures reported as such, and images decoded in turns
// through the one window. That its results equal the archive's in memory
// is proven in the differential tests.
#include <gtest/gtest.h>

#include "DeviceArchives.h"

using namespace zeftest;

namespace {

// Calls a line of `bytes` bytes may cost, as zefdec.h states.
size_t CallBound(size_t bytes) { return 1 + bytes / (ZEFDEC_WINDOW_SIZE - 4); }

// 240 x 24 on one palette; line y has y * 5 + 1 runs.
Bytes WideImage(std::vector<size_t>& lineBytes) {
  std::vector<Line> lines;
  for (uint32_t y = 0; y < 24; ++y) {
    Line line;
    const uint32_t runs = y * 5 + 1;
    for (uint32_t r = 0; r < runs; ++r) line.push_back({uint16_t(r % 3), uint8_t(240 / runs)});
    line.back().length = uint8_t(line.back().length + 240 % runs);
    lines.push_back(line);
    lineBytes.push_back(zef::kLineEntryCountSize + runs * zef::kPixelCodeRunSize);
  }
  return ArchiveV3(CodeHeader(0, 0), 0, {{240, 24, RunData(lines)}}, {{0x0F00, 0x00F0, 0x000F}});
}

// Image 0 of `bytes` read line by line in two formats, then drawn: each
// line costs at most its bound in calls (the first also reads the palette),
// a draw the lines and a few fixed fields, and the alpha is what was shown.
void ExpectCallsBounded(const Bytes& bytes, uint32_t width, const std::vector<size_t>& lineBytes,
                        const std::vector<V4Entry>& shown, const std::string& what) {
  SCOPED_TRACE(what);
  const uint32_t height = uint32_t(lineBytes.size());
  FlashArchive flash(bytes);
  zefdec_archive archive;
  ASSERT_EQ(flash.Open(archive, ZEFDEC_TRUSTED), ZEFDEC_OK);
  EXPECT_LE(flash.calls, 4u);  // two for the header, table marker, palette head
  size_t lines = 0;
  for (const zefdec_format format : {ZEFDEC_RGB565, ZEFDEC_BGR888}) {
    zefdec_image image;
    ASSERT_EQ(zefdec_begin(&image, &archive, 0, format), ZEFDEC_OK);
    std::vector<uint8_t> line(width * 3), alpha(width);
    for (uint32_t y = 0; y < height; ++y) {
      const size_t before = flash.calls;
      ASSERT_EQ(zefdec_line(&image, line.data(), shown.empty() ? nullptr : alpha.data(), width), ZEFDEC_OK);
      EXPECT_LE(flash.calls - before, CallBound(lineBytes[y]) + (y == 0)) << "line " << y;
      for (uint32_t x = 0; x < width && !shown.empty(); ++x) ASSERT_EQ(alpha[x], shown[y * width + x].alpha);
      if (format == ZEFDEC_RGB565) lines += CallBound(lineBytes[y]);
    }
  }
  Canvas canvas(ZEFDEC_CANVAS_RGB565, width, height, width * 2, 1);
  const zefdec_canvas view = canvas.View();
  const size_t before = flash.calls;
  ASSERT_EQ(zefdec_draw(&archive, 0, &view, 0, 0), ZEFDEC_OK);
  EXPECT_LE(flash.calls - before, lines + 6);
  EXPECT_FALSE(flash.outside);
}

TEST(DeviceReader, CallsPerLineAreBounded) {
  std::vector<size_t> lineBytes;
  const Bytes bytes = WideImage(lineBytes);
  ExpectCallsBounded(bytes, 240, lineBytes, {}, "version 3");
}

// Version 4: 300 pixels a line of every index width, in literals up to 129
// bytes long (twice the window) and runs, whose bytes stream through the
// window at the same bound.
TEST(DeviceReader, Version4LinesStreamThroughTheWindow) {
  std::mt19937 random(8);
  for (uint32_t bits = 1; bits <= 8; ++bits) {
    const std::vector<V4Entry> entries = RandomV4Entries(random, 1u << bits);
    std::vector<V4Entry> shown;
    std::vector<size_t> lineBytes;
    Bytes data;
    for (uint32_t y = 0; y < 8; ++y) {
      const Bytes line = RandomV4Data(random, 300, 1, bits, entries, shown);
      const size_t head = 2 + 4 * entries.size();
      if (y == 0) data.assign(line.begin(), line.begin() + long(head));
      data.insert(data.end(), line.begin() + long(head), line.end());
      lineBytes.push_back(line.size() - head);
    }
    ExpectCallsBounded(ArchiveV4(0, {{300, 8, data}}), 300, lineBytes, shown, std::to_string(bits) + " bits");
  }
}

// Opens the archive, draws image 0 and asks its description: the first
// result that is not OK.
int OpenDrawAndDescribe(FlashArchive& flash) {
  zefdec_archive archive;
  int rc = flash.Open(archive);
  Canvas canvas(ZEFDEC_CANVAS_RGB565, 240, 24, 480, 1);
  const zefdec_canvas view = canvas.View();
  if (rc == ZEFDEC_OK) rc = zefdec_draw(&archive, 0, &view, 0, 0);
  zefdec_image_info info;
  if (rc == ZEFDEC_OK) rc = zefdec_info(&archive, 0, &info);
  return rc;
}

TEST(DeviceReader, EveryFailedReadIsReported) {
  std::vector<size_t> lineBytes;
  const Bytes bytes = WideImage(lineBytes);
  FlashArchive whole(bytes);
  ASSERT_EQ(OpenDrawAndDescribe(whole), ZEFDEC_OK);
  for (size_t failAt = 1; failAt <= whole.calls; ++failAt) {
    FlashArchive flash(bytes);
    flash.failAt = failAt;
    EXPECT_EQ(OpenDrawAndDescribe(flash), ZEFDEC_E_READ) << "call " << failAt;
  }
}

TEST(DeviceReader, ImagesDecodedInTurnsShareTheWindowAndPalette) {
  std::mt19937 random(8);
  std::vector<ImageSpec> images;
  for (uint16_t i = 0; i < 3; ++i) {
    std::vector<Line> lines;
    for (int y = 0; y < 9; ++y) {
      lines.push_back({});
      for (uint32_t x = 0; x < 100; x += 4) lines.back().push_back({uint16_t(random() % 4), 4});
    }
    images.push_back({100, 9, RunData(lines), i});
  }
  const Bytes bytes = ArchiveV3(CodeHeader(0, 0), 0, images,
                                {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}});
  zefdec_archive memory, archive;
  ASSERT_EQ(zefdec_open(&memory, bytes.data(), bytes.size()), ZEFDEC_OK);
  FlashArchive flash(bytes);
  ASSERT_EQ(flash.Open(archive), ZEFDEC_OK);
  zefdec_image turns[3];
  std::vector<std::vector<uint16_t>> decoded(3, std::vector<uint16_t>(900));
  for (uint32_t i = 0; i < 3; ++i) ASSERT_EQ(zefdec_begin(&turns[i], &archive, i, ZEFDEC_ARGB4444), ZEFDEC_OK);
  for (uint32_t y = 0; y < 9; ++y) {
    for (uint32_t i = 0; i < 3; ++i) {
      ASSERT_EQ(zefdec_line(&turns[i], &decoded[i][y * 100], nullptr, 100), ZEFDEC_OK);
    }
  }
  for (uint32_t i = 0; i < 3; ++i) {
    const DeviceImage expected = DecodeWithDevice(memory, i, ZEFDEC_ARGB4444);
    ASSERT_EQ(expected.result, ZEFDEC_OK);
    EXPECT_TRUE(std::equal(decoded[i].begin(), decoded[i].end(), expected.pixels.begin<uint16_t>()))
        << "image " << i;
  }
}

}  // namespace

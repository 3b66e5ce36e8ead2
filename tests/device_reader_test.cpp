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

TEST(DeviceReader, CallsPerLineAreBounded) {
  std::vector<size_t> lineBytes;
  FlashArchive flash(WideImage(lineBytes));
  zefdec_archive archive;
  ASSERT_EQ(flash.Open(archive, ZEFDEC_TRUSTED), ZEFDEC_OK);
  EXPECT_LE(flash.calls, 4u);  // two for the header, table marker, palette head
  zefdec_image image;
  ASSERT_EQ(zefdec_begin(&image, &archive, 0, ZEFDEC_RGB565), ZEFDEC_OK);
  std::vector<uint16_t> line(240);
  for (uint32_t y = 0; y < 24; ++y) {
    const size_t before = flash.calls;
    ASSERT_EQ(zefdec_line(&image, line.data(), nullptr, 240), ZEFDEC_OK);
    // the first line also reads the palette
    EXPECT_LE(flash.calls - before, CallBound(lineBytes[y]) + (y == 0)) << "line " << y;
  }
  // a whole draw: the lines, and a few fixed fields per image
  size_t lines = 0;
  for (size_t bytes : lineBytes) lines += CallBound(bytes);
  Canvas canvas(ZEFDEC_CANVAS_RGB565, 240, 24, 480, 1);
  const zefdec_canvas view = canvas.View();
  const size_t before = flash.calls;
  ASSERT_EQ(zefdec_draw(&archive, 0, &view, 0, 0), ZEFDEC_OK);
  EXPECT_LE(flash.calls - before, lines + 6);
  EXPECT_FALSE(flash.outside);
}

// Version 4: 300 pixels a line of every index width, in literals up to 129
// bytes long (twice the window) and runs, whose bytes stream through the
// window at the same bound.
TEST(DeviceReader, Version4LinesStreamThroughTheWindow) {
  std::mt19937 random(8);
  for (uint32_t bits = 1; bits <= 8; ++bits) {
    std::vector<V4Entry> entries(1u << bits), shown;
    for (V4Entry& e : entries) e = {uint8_t(random()), uint8_t(random()), uint8_t(random()), uint8_t(random())};
    std::vector<size_t> lineBytes;
    Bytes data;
    for (uint32_t y = 0; y < 8; ++y) {
      const Bytes line = RandomV4Data(random, 300, 1, bits, entries, shown);
      const size_t head = 2 + 4 * entries.size();
      if (y == 0) data.assign(line.begin(), line.begin() + long(head));
      data.insert(data.end(), line.begin() + long(head), line.end());
      lineBytes.push_back(line.size() - head);
    }
    FlashArchive flash(ArchiveV4(0, {{300, 8, data}}));
    zefdec_archive archive;
    ASSERT_EQ(flash.Open(archive, ZEFDEC_TRUSTED), ZEFDEC_OK);
    size_t lines = 0;
    for (const zefdec_format format : {ZEFDEC_RGB565, ZEFDEC_BGR888}) {
      zefdec_image image;
      ASSERT_EQ(zefdec_begin(&image, &archive, 0, format), ZEFDEC_OK);
      std::vector<uint8_t> line(300 * 3), alpha(300);
      for (uint32_t y = 0; y < 8; ++y) {
        const size_t before = flash.calls;
        ASSERT_EQ(zefdec_line(&image, line.data(), alpha.data(), 300), ZEFDEC_OK);
        // the first line also reads the entries
        EXPECT_LE(flash.calls - before, CallBound(lineBytes[y]) + (y == 0)) << bits << " bits, line " << y;
        for (uint32_t x = 0; x < 300; ++x) ASSERT_EQ(alpha[x], shown[y * 300 + x].alpha);
        if (format == ZEFDEC_RGB565) lines += CallBound(lineBytes[y]);
      }
    }
    Canvas canvas(ZEFDEC_CANVAS_RGB565, 300, 8, 600, 1);
    const zefdec_canvas view = canvas.View();
    const size_t before = flash.calls;
    ASSERT_EQ(zefdec_draw(&archive, 0, &view, 0, 0), ZEFDEC_OK);
    EXPECT_LE(flash.calls - before, lines + 6) << bits << " bits";
    EXPECT_FALSE(flash.outside);
  }
}

TEST(DeviceReader, EveryFailedReadIsReported) {
  std::vector<size_t> lineBytes;
  const Bytes bytes = WideImage(lineBytes);
  size_t total;
  {
    FlashArchive flash(bytes);
    zefdec_archive archive;
    ASSERT_EQ(flash.Open(archive), ZEFDEC_OK);
    Canvas canvas(ZEFDEC_CANVAS_RGB565, 240, 24, 480, 1);
    const zefdec_canvas view = canvas.View();
    ASSERT_EQ(zefdec_draw(&archive, 0, &view, 0, 0), ZEFDEC_OK);
    zefdec_image_info info;
    ASSERT_EQ(zefdec_info(&archive, 0, &info), ZEFDEC_OK);
    total = flash.calls;
  }
  for (size_t failAt = 1; failAt <= total; ++failAt) {
    FlashArchive flash(bytes);
    flash.failAt = failAt;
    zefdec_archive archive;
    int rc = flash.Open(archive);
    Canvas canvas(ZEFDEC_CANVAS_RGB565, 240, 24, 480, 1);
    const zefdec_canvas view = canvas.View();
    if (rc == ZEFDEC_OK) rc = zefdec_draw(&archive, 0, &view, 0, 0);
    zefdec_image_info info;
    if (rc == ZEFDEC_OK) rc = zefdec_info(&archive, 0, &info);
    EXPECT_EQ(rc, ZEFDEC_E_READ) << "call " << failAt;
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

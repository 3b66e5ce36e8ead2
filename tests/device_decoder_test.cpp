// The device decoder on hand-built archives: pixel and alpha layouts, the
// output formats, spans, and the caller's buffers.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "DeviceArchives.h"

using namespace zeftest;

namespace {

// The 71-byte archive: one 1 x 1 image of palette colour 0x0F80, start index 7.
Bytes Smallest() {
  return ArchiveV3(CodeHeader(0, 0), 7, {{1, 1, RunData({{{0, 1}}})}}, {{0x0F80}});
}

zefdec_archive Open(const Bytes& bytes) {
  zefdec_archive archive;
  EXPECT_EQ(zefdec_open(&archive, bytes.data(), bytes.size()), ZEFDEC_OK);
  return archive;
}

TEST(DeviceDecoder, SmallestArchiveInEveryFormat) {
  const Bytes bytes = Smallest();
  ASSERT_EQ(bytes.size(), 71u);
  const zefdec_archive archive = Open(bytes);
  ASSERT_EQ(zefdec_count(&archive), 1u);
  zefdec_image_info info{};
  ASSERT_EQ(zefdec_info(&archive, 0, &info), ZEFDEC_OK);
  EXPECT_EQ(info.width, 1u);
  EXPECT_EQ(info.height, 1u);
  EXPECT_EQ(info.number, 7u);
  EXPECT_EQ(info.alpha_bits, 0);
  // The worked example of docs/format.md, the CRC-32 of the fields it lists.
  EXPECT_EQ(zefdec_archive_id(&archive), 0x19210155u);
  ExpectArchiveIdsAgree(bytes);

  const DeviceImage bgr = DecodeWithDevice(archive, 0, ZEFDEC_BGR888);
  ASSERT_EQ(bgr.result, ZEFDEC_OK);
  EXPECT_EQ(bgr.pixels.at<cv::Vec3b>(0, 0), cv::Vec3b(0, 128, 240));
  EXPECT_EQ(bgr.alpha.at<uint8_t>(0, 0), 255);
  // red 240 >> 3 = 30, green 128 >> 2 = 32, blue 0
  EXPECT_EQ(DecodeWithDevice(archive, 0, ZEFDEC_RGB565).pixels.at<uint16_t>(0, 0),
            30 << 11 | 32 << 5);
  EXPECT_EQ(DecodeWithDevice(archive, 0, ZEFDEC_ARGB4444).pixels.at<uint16_t>(0, 0), 0xFF80);
}

TEST(DeviceDecoder, PixelCodeLayouts) {
  struct Case {
    zef::HeaderBytes header;
    uint8_t code;
    int index;
    uint8_t alpha;
    uint8_t alphaBits;
  };
  const Case cases[] = {
      {CodeHeader(2, 1), 0xC5, 5, 255, 2},                           // alpha 3 on top
      {CodeHeader(2, 1), 0x85, 5, 170, 2},                           // alpha 2
      {CodeHeader(1, 1), 0xC6, 70, 255, 1},                          // one alpha bit
      {CodeHeader(1, 1), 0x46, 70, 0, 1},
      {CodeHeader(0, 0), 0xC5, 197, 255, 0},                         // no alpha: all index
      {CodeHeader(2, 0), 0xC5, 197, 255, 0},                         // mode 0 wins over bits
      {CodeHeader(2, 1, zef::kAlphaPositionLow), 0x15, 5, 85, 2},    // alpha at the low end
      {CodeHeader(1, 1, zef::kAlphaPositionLow), 0x8D, 70, 255, 1},
      {CodeHeader(0, 1), 0xC5, 5, 255, 2},                           // odd bits byte: two bits
  };
  for (const Case& c : cases) {
    std::vector<uint16_t> palette(256, 0);
    palette[c.index] = 0x0123;
    const Bytes bytes = ArchiveV3(c.header, 0, {{2, 1, RunData({{{c.code, 2}}})}}, {palette});
    const zefdec_archive archive = Open(bytes);
    zefdec_image_info info{};
    ASSERT_EQ(zefdec_info(&archive, 0, &info), ZEFDEC_OK);
    EXPECT_EQ(info.alpha_bits, c.alphaBits) << int(c.code);
    const DeviceImage image = DecodeWithDevice(archive, 0, ZEFDEC_ARGB4444);
    ASSERT_EQ(image.result, ZEFDEC_OK) << int(c.code);
    const uint16_t colour = c.header.alphaPosition == zef::kAlphaPositionLow ? 0x012 : 0x123;
    EXPECT_EQ(image.pixels.at<uint16_t>(0, 1), (c.alpha >> 4) << 12 | colour) << int(c.code);
    EXPECT_EQ(image.alpha.at<uint8_t>(0, 1), c.alpha) << int(c.code);
  }
}

TEST(DeviceDecoder, ColourWordsRawAndRunLength) {
  // raw: 0xF123 is blue 48, green 32, red 16; a zero alpha nibble blacks the pixel out
  Bytes raw;
  PutU16(raw, 0xF123);
  PutU16(raw, 0x0123);
  PutU16(raw, 0x7456);
  const Bytes rawArchive = ArchiveV2(WordHeader(0), {{3, 1, raw}});
  const DeviceImage rawImage = DecodeWithDevice(Open(rawArchive), 0, ZEFDEC_BGR888);
  ASSERT_EQ(rawImage.result, ZEFDEC_OK);
  EXPECT_EQ(rawImage.pixels.at<cv::Vec3b>(0, 0), cv::Vec3b(48, 32, 16));
  EXPECT_EQ(rawImage.pixels.at<cv::Vec3b>(0, 1), cv::Vec3b(0, 0, 0));
  EXPECT_EQ(rawImage.pixels.at<cv::Vec3b>(0, 2), cv::Vec3b(96, 80, 64));
  EXPECT_EQ(rawImage.alpha.at<uint8_t>(0, 1), 0);
  EXPECT_EQ(rawImage.alpha.at<uint8_t>(0, 2), 7 * 17);

  // run-length words keep the colour of a transparent pixel
  const Bytes rle = ArchiveV2(WordHeader(1), {{2, 1, RunData({{{0x0123, 2}}}, true)}});
  const DeviceImage rleImage = DecodeWithDevice(Open(rle), 0, ZEFDEC_BGR888);
  ASSERT_EQ(rleImage.result, ZEFDEC_OK);
  EXPECT_EQ(rleImage.pixels.at<cv::Vec3b>(0, 1), cv::Vec3b(48, 32, 16));
  EXPECT_EQ(rleImage.alpha.at<uint8_t>(0, 1), 0);

  // alpha position 1: 0xF123 reads red 15, green 1, blue 2, alpha 3
  const Bytes low = ArchiveV2(WordHeader(1, zef::kAlphaPositionLow),
                              {{1, 1, RunData({{{0xF123, 1}}}, true)}});
  const DeviceImage lowImage = DecodeWithDevice(Open(low), 0, ZEFDEC_ARGB4444);
  ASSERT_EQ(lowImage.result, ZEFDEC_OK);
  EXPECT_EQ(lowImage.pixels.at<uint16_t>(0, 0), 0x3F12);
  EXPECT_EQ(lowImage.alpha.at<uint8_t>(0, 0), 3 * 17);
}

TEST(DeviceDecoder, Version1RawAndRunLength) {
  Bytes raw;
  PutU16(raw, 0xF123);
  zef::HeaderBytes header = zef::kVersion1Header;
  const Bytes rawArchive = ArchiveV1(header, {1, 1, raw});
  const zefdec_archive archive = Open(rawArchive);
  zefdec_image_info info{};
  ASSERT_EQ(zefdec_info(&archive, 0, &info), ZEFDEC_OK);
  EXPECT_EQ(info.alpha_bits, 4);
  EXPECT_EQ(info.number, 0u);
  EXPECT_EQ(DecodeWithDevice(archive, 0, ZEFDEC_BGR888).pixels.at<cv::Vec3b>(0, 0),
            cv::Vec3b(48, 32, 16));
  ExpectArchiveIdsAgree(rawArchive);

  header.compressionFlag = 5;  // any value but 0 means run-length lines
  const Bytes rle = ArchiveV1(header, {300, 1, RunData({{{0x0FFF, 255}, {0x0F00, 45}}}, true)});
  const DeviceImage image = DecodeWithDevice(Open(rle), 0, ZEFDEC_RGB565);
  ASSERT_EQ(image.result, ZEFDEC_OK);
  EXPECT_EQ(image.pixels.at<uint16_t>(0, 254), 0xF79E);  // 240, 240, 240
  EXPECT_EQ(image.pixels.at<uint16_t>(0, 255), 0xF000);
  EXPECT_EQ(image.pixels.at<uint16_t>(0, 299), 0xF000);
}

TEST(DeviceDecoder, SpansMatchLinesAndSkipEmptyRuns) {
  std::vector<uint16_t> palette = {0x0100, 0x0020, 0x0003};
  // a 300-pixel line (255 + 45), and a line with an empty run among its runs
  const Bytes bytes = ArchiveV3(CodeHeader(0, 0), 0,
                                {{300, 2, RunData({{{0, 255}, {0, 45}},
                                                   {{1, 100}, {2, 0}, {2, 200}}})}},
                                {palette});
  const zefdec_archive archive = Open(bytes);
  const DeviceImage lines = DecodeWithDevice(archive, 0, ZEFDEC_BGR888);
  ASSERT_EQ(lines.result, ZEFDEC_OK);

  zefdec_image image;
  ASSERT_EQ(zefdec_begin(&image, &archive, 0, ZEFDEC_BGR888), ZEFDEC_OK);
  cv::Mat rebuilt(2, 300, CV_8UC3, cv::Scalar(1, 1, 1));
  std::vector<uint32_t> lengths;
  zefdec_span span;
  int rc;
  while ((rc = zefdec_next_span(&image, &span)) == ZEFDEC_OK) {
    lengths.push_back(span.length);
    const cv::Vec3b pixel(uint8_t(span.pixel), uint8_t(span.pixel >> 8), uint8_t(span.pixel >> 16));
    EXPECT_EQ(span.colour, span.y == 0 ? palette[0] : span.x < 100 ? palette[1] : palette[2]);
    EXPECT_EQ(span.alpha, 255);
    for (uint32_t x = span.x; x < span.x + span.length; ++x) {
      rebuilt.at<cv::Vec3b>(int(span.y), int(x)) = pixel;
    }
  }
  EXPECT_EQ(rc, ZEFDEC_END);
  EXPECT_EQ(zefdec_next_span(&image, &span), ZEFDEC_END);
  EXPECT_EQ(lengths, (std::vector<uint32_t>{255, 45, 100, 200}));
  EXPECT_EQ(cv::norm(rebuilt, lines.pixels, cv::NORM_INF), 0);
}

TEST(DeviceDecoder, NeverWritesPastTheRoomItIsGiven) {
  const Bytes bytes = ArchiveV3(CodeHeader(0, 0), 0, {{4, 2, RunData({{{0, 4}}, {{0, 4}}})}},
                                {{0x0FFF}});
  const zefdec_archive archive = Open(bytes);
  zefdec_image image;
  ASSERT_EQ(zefdec_begin(&image, &archive, 0, ZEFDEC_BGR888), ZEFDEC_OK);
  std::vector<uint8_t> line(4 * 3 + 8, 0xAB);
  std::vector<uint8_t> alpha(4 + 4, 0xAB);
  EXPECT_EQ(zefdec_line(&image, line.data(), nullptr, 3), ZEFDEC_E_ROOM);
  EXPECT_EQ(zefdec_line(&image, nullptr, alpha.data(), 3), ZEFDEC_E_ROOM);
  EXPECT_EQ(line, std::vector<uint8_t>(line.size(), 0xAB));
  EXPECT_EQ(alpha, std::vector<uint8_t>(alpha.size(), 0xAB));
  // a refused call does not use up the line
  EXPECT_EQ(zefdec_line(&image, line.data(), alpha.data(), 4), ZEFDEC_OK);
  EXPECT_EQ(line[11], 0xF0);
  EXPECT_EQ(line[12], 0xAB);
  EXPECT_EQ(alpha[4], 0xAB);
  // skipping a line needs no buffer; after the last line there is nothing left
  EXPECT_EQ(zefdec_line(&image, nullptr, nullptr, 0), ZEFDEC_OK);
  EXPECT_EQ(zefdec_line(&image, line.data(), alpha.data(), 4), ZEFDEC_E_ORDER);
}

TEST(DeviceDecoder, ImagesInAnyOrder) {
  const Bytes bytes = ArchiveV3(CodeHeader(0, 0), 1000,
                                {{2, 1, RunData({{{0, 2}}})},
                                 {5, 3, RunData({{{0, 5}}, {{0, 5}}, {{0, 5}}})},
                                 {1, 1, RunData({{{0, 1}}}), 1}},
                                {{0x0001}, {0x0002}});
  const zefdec_archive archive = Open(bytes);
  ASSERT_EQ(zefdec_count(&archive), 3u);
  zefdec_image_info info{};
  ASSERT_EQ(zefdec_info(&archive, 2, &info), ZEFDEC_OK);
  EXPECT_EQ(info.number, 1002u);
  EXPECT_EQ(zefdec_info(&archive, 3, &info), ZEFDEC_E_POSITION);
  // the last image first, through its own palette
  EXPECT_EQ(DecodeWithDevice(archive, 2, ZEFDEC_BGR888).pixels.at<cv::Vec3b>(0, 0),
            cv::Vec3b(32, 0, 0));
  // the middle one by spans, after skipping a line
  zefdec_image image;
  ASSERT_EQ(zefdec_begin(&image, &archive, 1, ZEFDEC_RGB565), ZEFDEC_OK);
  ASSERT_EQ(zefdec_line(&image, nullptr, nullptr, 0), ZEFDEC_OK);
  zefdec_span span;
  std::vector<uint32_t> lines;
  while (zefdec_next_span(&image, &span) == ZEFDEC_OK) lines.push_back(span.y);
  EXPECT_EQ(lines, (std::vector<uint32_t>{1, 2}));
  // lines and spans do not mix within a line
  ASSERT_EQ(zefdec_begin(&image, &archive, 1, ZEFDEC_RGB565), ZEFDEC_OK);
  ASSERT_EQ(zefdec_next_span(&image, &span), ZEFDEC_OK);
  EXPECT_EQ(zefdec_line(&image, nullptr, nullptr, 0), ZEFDEC_E_ORDER);
  EXPECT_EQ(DecodeWithDevice(archive, 0, ZEFDEC_BGR888).pixels.at<cv::Vec3b>(0, 1),
            cv::Vec3b(16, 0, 0));
}

TEST(DeviceDecoder, RefusesCallsWithoutAnOpenArchive) {
  zefdec_archive archive{};
  EXPECT_EQ(zefdec_count(&archive), 0u);
  EXPECT_EQ(zefdec_count(nullptr), 0u);
  EXPECT_EQ(zefdec_archive_id(&archive), 0u);
  EXPECT_EQ(zefdec_archive_id(nullptr), 0u);
  const Bytes bytes = Smallest();
  EXPECT_EQ(zefdec_open(nullptr, bytes.data(), bytes.size()), ZEFDEC_E_ARGUMENT);
  EXPECT_EQ(zefdec_open(&archive, nullptr, 0), ZEFDEC_E_ARGUMENT);
  zefdec_image image;
  EXPECT_EQ(zefdec_begin(&image, &archive, 0, ZEFDEC_RGB565), ZEFDEC_E_NOT_OPEN);
  EXPECT_EQ(zefdec_line(&image, nullptr, nullptr, 0), ZEFDEC_E_NOT_OPEN);

  // a failed open leaves no images behind, even after an earlier success
  ASSERT_EQ(zefdec_open(&archive, bytes.data(), bytes.size()), ZEFDEC_OK);
  EXPECT_NE(zefdec_open(&archive, bytes.data(), bytes.size() - 1), ZEFDEC_OK);
  EXPECT_EQ(zefdec_count(&archive), 0u);
  EXPECT_EQ(zefdec_begin(&image, &archive, 0, ZEFDEC_RGB565), ZEFDEC_E_NOT_OPEN);

  ASSERT_EQ(zefdec_open(&archive, bytes.data(), bytes.size()), ZEFDEC_OK);
  EXPECT_EQ(zefdec_begin(&image, &archive, 0, zefdec_format(3)), ZEFDEC_E_ARGUMENT);
  EXPECT_EQ(zefdec_begin(nullptr, &archive, 0, ZEFDEC_RGB565), ZEFDEC_E_ARGUMENT);
  zefdec_span span;
  ASSERT_EQ(zefdec_begin(&image, &archive, 0, ZEFDEC_RGB565), ZEFDEC_OK);
  EXPECT_EQ(zefdec_line(nullptr, nullptr, nullptr, 0), ZEFDEC_E_ARGUMENT);
  EXPECT_EQ(zefdec_next_span(nullptr, &span), ZEFDEC_E_ARGUMENT);
  EXPECT_EQ(zefdec_next_span(&image, nullptr), ZEFDEC_E_ARGUMENT);
  EXPECT_EQ(zefdec_next_span(&image, &span), ZEFDEC_OK);  // the image is still whole

  // every result has its own text, and none is left without one
  std::set<std::string> texts;
  for (int result = ZEFDEC_END; result >= ZEFDEC_E_ORDER; --result) {
    texts.insert(zefdec_strerror(result));
  }
  EXPECT_EQ(texts.size(), size_t(int(ZEFDEC_END) - int(ZEFDEC_E_ORDER) + 1));
  EXPECT_EQ(texts.count("unknown result"), 0u);
  EXPECT_STREQ(zefdec_strerror(ZEFDEC_E_POSITION), "no image at that position");
  EXPECT_STREQ(zefdec_strerror(ZEFDEC_E_ORDER - 1), "unknown result");
  EXPECT_STREQ(zefdec_strerror(ZEFDEC_END + 1), "unknown result");
}

TEST(DeviceDecoder, DrawBlendsByTheFormula) {
  // two alpha bits on top of each code: 0, 85, 170, 255; black and 0x0F80
  const std::vector<uint16_t> palette = {0x0000, 0x0F80};
  struct Case {
    zefdec_canvas_format format;
    uint32_t canvas;
    uint8_t alphaCode, index;
    uint32_t expected;
  };
  const Case cases[] = {
      // white widens to 255: (0 * 85 + 255 * 170 + 127) / 255 = 170 -> 21, 42, 21
      {ZEFDEC_CANVAS_RGB565, 0xFFFF, 1, 0, 0xAD55},
      {ZEFDEC_CANVAS_RGB565_SWAPPED, 0xFFFF, 1, 0, 0x55AD},
      // 1, 2, 1 widen to 8, 8, 8: (8 * 170 + 127) / 255 = 5 -> 0, 1, 0
      {ZEFDEC_CANVAS_RGB565, 0x0841, 1, 0, 0x0020},
      {ZEFDEC_CANVAS_RGB565, 0xFFFF, 0, 0, 0xFFFF},  // alpha 0 leaves the pixel
      {ZEFDEC_CANVAS_RGB565, 0x1234, 3, 1, 0xF400},  // 240, 128, 0 as zefdec_line gives it
      {ZEFDEC_CANVAS_RGB565_SWAPPED, 0x1234, 3, 1, 0x00F4},
      // r (240 * 170 + 0x34 * 85 + 127) / 255 = 0xB1, g 0x72, b 0x28; the top byte stays
      {ZEFDEC_CANVAS_XRGB8888, 0x12345678, 2, 1, 0x12B17228},
      {ZEFDEC_CANVAS_XRGB8888, 0xAB000000, 3, 1, 0xABF08000},
      {ZEFDEC_CANVAS_XRGB8888, 0xABCDEF01, 0, 1, 0xABCDEF01},
  };
  for (const Case& c : cases) {
    const uint16_t code = uint16_t(c.alphaCode << 6 | c.index);
    const Bytes bytes = ArchiveV3(CodeHeader(2, 1), 0, {{1, 1, RunData({{{code, 1}}})}}, {palette});
    const zefdec_archive archive = Open(bytes);
    Canvas canvas(c.format, 1, 1, 4, 1);
    canvas.Set(0, 0, c.canvas);
    const zefdec_canvas view = canvas.View();
    ASSERT_EQ(zefdec_draw(&archive, 0, &view, 0, 0), ZEFDEC_OK);
    EXPECT_EQ(canvas.Get(0, 0), c.expected) << "format " << c.format << ", canvas " << c.canvas;
  }
}

TEST(DeviceDecoder, DrawRefusesCanvasesItCannotUse) {
  const Bytes bytes = Smallest();
  const zefdec_archive archive = Open(bytes);
  Canvas canvas(ZEFDEC_CANVAS_RGB565, 4, 2, 8, 3);
  Canvas untouched = canvas;
  auto draw = [&](zefdec_canvas view) { return zefdec_draw(&archive, 0, &view, 0, 0); };
  const zefdec_canvas good = canvas.View();
  auto with = [&](auto change) {
    zefdec_canvas view = good;
    change(view);
    return draw(view);
  };

  EXPECT_EQ(zefdec_draw(&archive, 0, nullptr, 0, 0), ZEFDEC_E_ARGUMENT);
  EXPECT_EQ(with([](zefdec_canvas& v) { v.format = zefdec_canvas_format(13); }), ZEFDEC_E_ARGUMENT);
  EXPECT_EQ(with([](zefdec_canvas& v) { v.pixels = nullptr; }), ZEFDEC_E_ARGUMENT);
  EXPECT_EQ(with([](zefdec_canvas& v) { v.stride = 6; }), ZEFDEC_E_CANVAS);   // shorter than a row
  EXPECT_EQ(with([](zefdec_canvas& v) { v.stride = 9; }), ZEFDEC_E_CANVAS);   // rows not aligned
  EXPECT_EQ(with([&](zefdec_canvas& v) { v.pixels = canvas.Bytes() + 1; }), ZEFDEC_E_CANVAS);
  EXPECT_EQ(with([](zefdec_canvas& v) {
              v.format = ZEFDEC_CANVAS_XRGB8888;
              v.width = 1;
              v.stride = 6;
            }),
            ZEFDEC_E_CANVAS);
  EXPECT_EQ(zefdec_draw(&archive, 1, &good, 0, 0), ZEFDEC_E_POSITION);  // no such image
  zefdec_archive closed{};
  EXPECT_EQ(zefdec_draw(&closed, 0, &good, 0, 0), ZEFDEC_E_NOT_OPEN);
  EXPECT_EQ(zefdec_draw(nullptr, 0, &good, 0, 0), ZEFDEC_E_ARGUMENT);
  EXPECT_EQ(canvas.storage, untouched.storage);

  // a canvas without pixels has nothing to draw on, and needs no buffer
  EXPECT_EQ(with([](zefdec_canvas& v) { v = {nullptr, 0, 5, 0, ZEFDEC_CANVAS_RGB565}; }), ZEFDEC_OK);
  EXPECT_EQ(with([](zefdec_canvas& v) { v = {nullptr, 5, 0, 0, ZEFDEC_CANVAS_XRGB8888}; }), ZEFDEC_OK);
  // the stride may be longer than a row: the bytes between are left alone
  EXPECT_EQ(with([](zefdec_canvas& v) { v.width = 2; }), ZEFDEC_OK);
  EXPECT_EQ(canvas.Get(0, 0), 30u << 11 | 32u << 5);
  for (uint32_t x = 1; x < 4; ++x) EXPECT_EQ(canvas.Get(x, 0), untouched.Get(x, 0)) << x;
}

}  // namespace

namespace {

// A canvas that points at a window of the framebuffer is a clip area: the
// image lands where it would on the whole framebuffer, and only the
// window's pixels change.
TEST(DeviceDecoder, CanvasOnAWindowClipsToIt) {
  std::mt19937 random(12);
  std::vector<Line> lines;
  for (int y = 0; y < 6; ++y) {
    lines.push_back({});
    for (int x = 0; x < 9; x += 3) lines.back().push_back({uint16_t(random() % 256), 3});
  }
  std::vector<uint16_t> palette(64);
  for (uint16_t& colour : palette) colour = uint16_t(random() & 0x0FFF);
  const Bytes bytes = ArchiveV3(CodeHeader(2, zef::kAlphaModeGraded), 0,
                                {{9, 6, RunData(lines)}}, {palette});
  const zefdec_archive archive = Open(bytes);
  const uint32_t left = 10, top = 5, width = 12, height = 8;
  for (const int32_t x : {0, 6, 8, 15, 20, 21, 30}) {
    for (const int32_t y : {0, 1, 4, 10, 12, 13, 20}) {
      Canvas whole(ZEFDEC_CANVAS_RGB565, 30, 20, 60, uint32_t(x * 100 + y));
      Canvas expected = whole;
      const zefdec_canvas all = expected.View();
      ASSERT_EQ(zefdec_draw(&archive, 0, &all, x, y), ZEFDEC_OK);
      for (uint32_t cy = 0; cy < 20; ++cy) {
        for (uint32_t cx = 0; cx < 30; ++cx) {
          if (cx < left || cx >= left + width || cy < top || cy >= top + height) {
            expected.Set(cx, cy, whole.Get(cx, cy));
          }
        }
      }
      const zefdec_canvas window = {whole.Bytes() + top * whole.stride + left * 2, width, height,
                                    whole.stride, ZEFDEC_CANVAS_RGB565};
      ASSERT_EQ(zefdec_draw(&archive, 0, &window, x - int32_t(left), y - int32_t(top)), ZEFDEC_OK);
      ASSERT_EQ(whole.storage, expected.storage) << "at " << x << "," << y;
    }
  }
}

}  // namespace

// A version 4 image whose pixels are the given entries, one each, row by row.
Bytes EntryImage(uint32_t width, uint32_t height, const std::vector<V4Entry>& pixels) {
  Bytes data = {8, uint8_t(pixels.size() - 1)};
  for (const V4Entry& e : pixels) PutBytes(data, {e.red, e.green, e.blue, e.alpha});
  for (uint32_t y = 0; y < height; ++y) {
    data.push_back(uint8_t(width - 1));
    for (uint32_t x = 0; x < width; ++x) data.push_back(uint8_t(y * width + x));
  }
  return ArchiveV4(0, {{width, height, data}});
}

TEST(DeviceDecoder, DrawWithOptionsByTheFormula) {
  struct Case {
    const char* rule;
    zefdec_canvas_format format;
    uint32_t width, height, stride;
    uint8_t fill;  // every canvas byte before the draw
    uint32_t imageWidth;
    std::vector<V4Entry> pixels;
    zefdec_draw_options options;
    int32_t x, y;
    Bytes expected;  // the canvas's first bytes after it
  };
  const V4Entry white{255, 255, 255, 255}, grey128{128, 128, 128, 255};
  const Case cases[] = {
      {"(127 * 1 + 127) / 255 is 0: nothing drawn", ZEFDEC_CANVAS_XRGB8888, 1, 1, 4, 0, 1,
       {{255, 255, 255, 127}}, {1, 0, 0, 0}, 0, 0, {0, 0, 0, 0}},
      {"(127 * 2 + 127) / 255 is 1", ZEFDEC_CANVAS_XRGB8888, 1, 1, 4, 0, 1,
       {{255, 255, 255, 127}}, {2, 0, 0, 0}, 0, 0, {1, 1, 1, 0}},
      {"recolour replaces the colour", ZEFDEC_CANVAS_RGB565, 1, 1, 2, 0x55, 1, {{0, 0, 0, 255}},
       {255, 1, 0, 0xFF0000}, 0, 0, {0x00, 0xF8}},
      {"recolour keeps the alpha", ZEFDEC_CANVAS_XRGB8888, 1, 1, 4, 0, 1, {{9, 9, 9, 170}},
       {255, 1, 0, 0x0000FF}, 0, 0, {0xAA, 0, 0, 0}},
      {"over: W 64, alpha 192, (255 * 128 + 128 * 64 + 96) / 192", ZEFDEC_CANVAS_ARGB8888, 1, 1, 4, 0x80, 1,
       {{255, 255, 255, 128}}, ZEFDEC_DRAW_OPTIONS_DEFAULT, 0, 0, {0xD5, 0xD5, 0xD5, 0xC0}},
      {"over a transparent pixel gives the source", ZEFDEC_CANVAS_ARGB8888, 1, 1, 4, 0, 1,
       {{0x10, 0x20, 0x30, 50}}, ZEFDEC_DRAW_OPTIONS_DEFAULT, 0, 0, {0x30, 0x20, 0x10, 50}},
      {"RGB888 is red first", ZEFDEC_CANVAS_RGB888, 1, 1, 3, 0, 1, {{0x11, 0x22, 0x33, 255}},
       ZEFDEC_DRAW_OPTIONS_DEFAULT, 0, 0, {0x11, 0x22, 0x33}},
      {"BGR888 is blue first", ZEFDEC_CANVAS_BGR888, 1, 1, 3, 0, 1, {{0x11, 0x22, 0x33, 255}},
       ZEFDEC_DRAW_OPTIONS_DEFAULT, 0, 0, {0x33, 0x22, 0x11}},
      {"BGR565 has red in the low bits", ZEFDEC_CANVAS_BGR565, 1, 1, 2, 0, 1, {{255, 0, 0, 255}},
       ZEFDEC_DRAW_OPTIONS_DEFAULT, 0, 0, {0x1F, 0x00}},
      {"luma (770 + 30000 + 870 + 128) >> 8", ZEFDEC_CANVAS_L8, 1, 1, 1, 0, 1, {{10, 200, 30, 255}},
       ZEFDEC_DRAW_OPTIONS_DEFAULT, 0, 0, {124}},
      {"L4: the left pixel in the high nibble", ZEFDEC_CANVAS_L4, 2, 1, 1, 0, 1, {white},
       ZEFDEC_DRAW_OPTIONS_DEFAULT, 0, 0, {0xF0}},
      {"L2: the second pixel in bits 5..4", ZEFDEC_CANVAS_L2, 4, 1, 1, 0, 1, {{85, 85, 85, 255}},
       ZEFDEC_DRAW_OPTIONS_DEFAULT, 1, 0, {0x10}},
      {"threshold: 128 lights, 127 does not", ZEFDEC_CANVAS_L1, 8, 1, 1, 0, 2,
       {grey128, {127, 127, 127, 255}}, ZEFDEC_DRAW_OPTIONS_DEFAULT, 0, 0, {0x80}},
      {"Bayer: 128 + 8 stays dark, 128 + 136 lights", ZEFDEC_CANVAS_L1, 8, 1, 1, 0, 2, {grey128, grey128},
       {255, 0, ZEFDEC_DITHER_BAYER, 0}, 0, 0, {0x40}},
      {"Bayer is taken at the canvas position", ZEFDEC_CANVAS_L1, 8, 1, 1, 0, 1, {grey128},
       {255, 0, ZEFDEC_DITHER_BAYER, 0}, 1, 0, {0x40}},
      {"pages: row 9 is bit 1 of the second page", ZEFDEC_CANVAS_L1_PAGES, 1, 16, 1, 0, 1, {white},
       ZEFDEC_DRAW_OPTIONS_DEFAULT, 0, 9, {0x00, 0x02}},
  };
  for (const Case& c : cases) {
    const Bytes bytes = EntryImage(c.imageWidth, uint32_t(c.pixels.size()) / c.imageWidth, c.pixels);
    const zefdec_archive archive = Open(bytes);
    Canvas canvas(c.format, c.width, c.height, c.stride, 1);
    std::fill(canvas.storage.begin(), canvas.storage.end(), c.fill * 0x01010101u);
    const zefdec_canvas view = canvas.View();
    ASSERT_EQ(zefdec_draw_with(&archive, 0, &view, c.x, c.y, &c.options), ZEFDEC_OK) << c.rule;
    EXPECT_EQ(Bytes(canvas.Bytes(), canvas.Bytes() + c.expected.size()), c.expected) << c.rule;
  }
}

TEST(DeviceDecoder, DrawRefusesRowsShorterThanThePackedWidth) {
  const Bytes bytes = Smallest();
  const zefdec_archive archive = Open(bytes);
  struct Case {
    zefdec_canvas_format format;
    uint32_t width, stride;
    int result;
  };
  const Case cases[] = {
      {ZEFDEC_CANVAS_RGB888, 3, 8, ZEFDEC_E_CANVAS}, {ZEFDEC_CANVAS_RGB888, 3, 9, ZEFDEC_OK},
      {ZEFDEC_CANVAS_BGR888, 3, 11, ZEFDEC_OK},  // 3-byte pixels need no alignment
      {ZEFDEC_CANVAS_ARGB8888, 2, 10, ZEFDEC_E_CANVAS}, {ZEFDEC_CANVAS_L8, 5, 4, ZEFDEC_E_CANVAS},
      {ZEFDEC_CANVAS_L4, 3, 1, ZEFDEC_E_CANVAS},     {ZEFDEC_CANVAS_L4, 3, 2, ZEFDEC_OK},
      {ZEFDEC_CANVAS_L2, 5, 1, ZEFDEC_E_CANVAS},     {ZEFDEC_CANVAS_L2, 5, 2, ZEFDEC_OK},
      {ZEFDEC_CANVAS_L1, 9, 1, ZEFDEC_E_CANVAS},     {ZEFDEC_CANVAS_L1, 9, 2, ZEFDEC_OK},
      {ZEFDEC_CANVAS_L1_PAGES, 5, 4, ZEFDEC_E_CANVAS}, {ZEFDEC_CANVAS_L1_PAGES, 5, 5, ZEFDEC_OK},
  };
  for (const Case& c : cases) {
    Canvas canvas(c.format, c.width, 2, c.stride, 1);
    const zefdec_canvas view = canvas.View();
    EXPECT_EQ(zefdec_draw(&archive, 0, &view, 0, 0), c.result) << "format " << c.format << " width " << c.width;
  }
}

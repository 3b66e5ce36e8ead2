// The device decoder on an archive behind a read callback: bounded calls
// per line, read failures reported as such, what a failed read leaves of a
// draw, images decoded in turns through the one window, reads in aligned
// words, and the refusal of a reader compiled with another window. That its results equal the archive's in memory
// is proven in the differential tests.
#include <gtest/gtest.h>

#include <set>

#include "DeviceArchives.h"

// The callers compiled with other windows (other_window/caller.c).
extern "C" {
int open_with_smaller_window(const uint8_t* bytes, size_t size, int* drawResult, size_t* window,
                             int* called, int* untouched);
int open_with_larger_window(const uint8_t* bytes, size_t size, int* drawResult, size_t* window,
                            int* called, int* untouched);
}

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

// A read that fails at each call of a draw in turn: the draw gives
// ZEFDEC_E_READ, the image's lines above the one being read are drawn,
// those below and every pixel beside the image are left, and the archive
// stays open: a draw after it draws the whole image.
TEST(DeviceReader, AFailedReadLeavesTheLinesAboveDrawn) {
  std::mt19937 random(12);
  std::vector<size_t> lineBytes;
  const std::vector<V4Entry> entries = RandomV4Entries(random, 16);
  std::vector<V4Entry> shown;
  const struct {
    const char* name;
    Bytes bytes;
    uint32_t width, height;
  } cases[] = {{"version 3", WideImage(lineBytes), 240, 24},
               {"version 4", ArchiveV4(0, {{300, 8, RandomV4Data(random, 300, 8, 4, entries, shown)}}), 300, 8}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // the image at (-3, 2): clipped on the left, canvas rows above, below and columns beside it
    const uint32_t width = c.width + 4, height = c.height + 5, stride = width * 2;
    const uint32_t besideFrom = (c.width - 3) * 2;
    FlashArchive flash(c.bytes);
    zefdec_archive archive;
    Canvas original(ZEFDEC_CANVAS_RGB565, width, height, stride, 5);
    Canvas whole = original;
    zefdec_canvas view = whole.View();
    ASSERT_EQ(flash.Open(archive, ZEFDEC_TRUSTED), ZEFDEC_OK);
    const size_t before = flash.calls;
    ASSERT_EQ(zefdec_draw(&archive, 0, &view, -3, 2), ZEFDEC_OK);
    const size_t drawCalls = flash.calls - before;
    ASSERT_GT(drawCalls, 4u);
    for (size_t failing = 1; failing <= drawCalls; ++failing) {
      SCOPED_TRACE("failing call " + std::to_string(failing));
      Canvas canvas = original;
      view = canvas.View();
      ASSERT_EQ(flash.Open(archive, ZEFDEC_TRUSTED), ZEFDEC_OK);
      flash.failAt = flash.calls + failing;
      ASSERT_EQ(zefdec_draw(&archive, 0, &view, -3, 2), ZEFDEC_E_READ);
      flash.failAt = 0;
      const auto row = [&](Canvas& from, uint32_t y, uint32_t begin = 0) {
        const uint8_t* at = from.Bytes() + size_t(y) * stride;
        return std::vector<uint8_t>(at + begin, at + stride);
      };
      uint32_t y = 0;
      while (y < height && row(canvas, y) == row(whole, y)) ++y;
      ASSERT_LT(y, height) << "the draw failed but its canvas is whole";
      EXPECT_EQ(row(canvas, y, besideFrom), row(original, y, besideFrom)) << "line " << y;
      for (++y; y <= height; ++y) ASSERT_EQ(row(canvas, y), row(original, y)) << "line " << y;  // and the guard row
      Canvas again = original;
      view = again.View();
      ASSERT_EQ(zefdec_draw(&archive, 0, &view, -3, 2), ZEFDEC_OK);
      ASSERT_EQ(again.storage, whole.storage);
    }
  }
}

// Every callback read, at every remainder of the archive's size by 4 and
// for every version, opened with and without the whole-archive check, for
// lines, spans and clipped draws: a word-aligned buffer, a word offset and
// whole words, but where the read ends at the archive's end.
TEST(DeviceReader, ReadsAreWholeWordsAtWordOffsets) {
  std::mt19937 random(31);
  const auto line = [&](uint32_t width, uint32_t values) {
    Line runs;
    for (uint32_t x = 0; x < width;) {
      const uint8_t n = uint8_t(1 + random() % std::min(width - x, 4u));
      runs.push_back({uint16_t(random() % values), n});
      x += n;
    }
    return runs;
  };
  std::vector<Bytes> archives;
  std::set<size_t> ends;
  for (uint32_t width = 5; width < 9; ++width) {
    std::vector<Line> codes, words;
    Bytes raw;
    for (uint32_t y = 0; y < 3; ++y) {
      codes.push_back(line(width, 3));
      words.push_back(line(width, 0x10000));
      for (uint32_t x = 0; x < width; ++x) PutU16(raw, uint32_t(random()));
    }
    const std::vector<V4Entry> entries = RandomV4Entries(random, 3 + width * 20);
    std::vector<V4Entry> shown;
    archives.push_back(ArchiveV1(WordHeader(), {width, 3, RunData(words, true)}));
    archives.push_back(ArchiveV2(WordHeader(0), {{width, 3, raw}}));
    archives.push_back(ArchiveV2(WordHeader(), {{width, 3, RunData(words, true)}}));
    archives.push_back(ArchiveV3(CodeHeader(0, 0), 0, {{width, 3, RunData(codes)}}, {{0x0F00, 0x00F0, 0x000F}}));
    archives.push_back(ArchiveV4(0, {{width * 40, 5, RandomV4Data(random, width * 40, 5, 8, entries, shown)},
                                     {width, 2, RandomV4Data(random, width, 2, 8, entries, shown)}}));
  }
  for (const Bytes& bytes : archives) ends.insert(bytes.size() % 4);
  ASSERT_EQ(ends.size(), 4u);
  for (const Bytes& bytes : archives) {
    for (const unsigned flags : {0u, ZEFDEC_TRUSTED}) {
      SCOPED_TRACE("version " + std::to_string(bytes[3]) + ", " + std::to_string(bytes.size()) + " bytes");
      FlashArchive flash(bytes);
      zefdec_archive archive;
      ASSERT_EQ(flash.Open(archive, flags), ZEFDEC_OK);
      for (uint32_t i = 0; i < zefdec_count(&archive); ++i) {
        for (const zefdec_format format : {ZEFDEC_RGB565, ZEFDEC_ARGB4444, ZEFDEC_BGR888}) {
          ASSERT_EQ(DecodeWithDevice(archive, i, format).result, ZEFDEC_OK);
          ASSERT_EQ(DecodeWithSpans(archive, i, format).result, ZEFDEC_OK);
        }
        Canvas canvas(ZEFDEC_CANVAS_XRGB8888, 7, 3, 28, i);
        const zefdec_canvas view = canvas.View();
        for (const int32_t at : {-5, -1, 0, 3}) ASSERT_EQ(zefdec_draw(&archive, i, &view, at, at), ZEFDEC_OK);
      }
      EXPECT_GT(flash.calls, 2u);
      EXPECT_EQ(flash.MisalignedRead(), "");
      EXPECT_FALSE(flash.outside);
    }
  }
}

// A caller compiled with a smaller or larger ZEFDEC_WINDOW_SIZE than the
// decoder gets ZEFDEC_E_ARGUMENT, its reader and the bytes around it are
// not written (a 256-entry version 4 image would write past the smaller
// reader), nothing is read and the archive is not open. The same archive
// opens through a reader of the decoder's own window.
TEST(DeviceReader, AReaderOfAnotherWindowIsRefusedUntouched) {
  std::mt19937 random(26);
  const std::vector<V4Entry> entries = RandomV4Entries(random, 256);
  std::vector<V4Entry> shown;
  const Bytes bytes = ArchiveV4(0, {{16, 16, RandomV4Data(random, 16, 16, 8, entries, shown)}});
  FlashArchive flash(bytes);
  zefdec_archive archive;
  ASSERT_EQ(flash.Open(archive), ZEFDEC_OK);
  const struct {
    const char* name;
    int (*open)(const uint8_t*, size_t, int*, size_t*, int*, int*);
  } callers[] = {{"smaller", open_with_smaller_window}, {"larger", open_with_larger_window}};
  for (const auto& caller : callers) {
    SCOPED_TRACE(caller.name);
    int drawResult = ZEFDEC_OK, called = 1, untouched = 0;
    size_t window = ZEFDEC_WINDOW_SIZE;
    EXPECT_EQ(caller.open(bytes.data(), bytes.size(), &drawResult, &window, &called, &untouched),
              ZEFDEC_E_ARGUMENT);
    EXPECT_NE(window, size_t(ZEFDEC_WINDOW_SIZE));
    EXPECT_EQ(drawResult, ZEFDEC_E_NOT_OPEN);
    EXPECT_FALSE(called);
    EXPECT_TRUE(untouched);
  }
}

}  // namespace

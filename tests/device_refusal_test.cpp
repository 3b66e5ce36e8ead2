// The device decoder refuses every archive that breaks an invariant of the
// format, each with its own error code, before any image is drawn.
#include <gtest/gtest.h>

#include "DeviceArchives.h"

using namespace zeftest;

namespace {

int OpenResult(const Bytes& bytes) {
  zefdec_archive archive;
  return zefdec_open(&archive, bytes.data(), bytes.size());
}

// A trusted open checks nothing, so each reader of the first image must
// meet the fault itself: lines read or skipped, spans, and draws onto
// RGB565 and a canvas put pixel by pixel, each with the open's code.
void ExpectEveryReaderMeets(const Bytes& bytes, int result, const std::string& what) {
  zefdec_archive archive;
  if (zefdec_open_with(&archive, bytes.data(), bytes.size(), ZEFDEC_TRUSTED) != ZEFDEC_OK) {
    ADD_FAILURE() << what << ": the trusted open refused";
    return;
  }
  EXPECT_EQ(DecodeWithDevice(archive, 0, ZEFDEC_RGB565).result, result) << what << ", lines";
  EXPECT_EQ(DecodeWithSpans(archive, 0, ZEFDEC_RGB565).result, result) << what << ", spans";
  zefdec_image_info info{};
  ASSERT_EQ(zefdec_info(&archive, 0, &info), ZEFDEC_OK) << what;
  zefdec_image image;
  int skipped = zefdec_begin(&image, &archive, 0, ZEFDEC_RGB565);
  for (uint32_t y = 0; skipped == ZEFDEC_OK && y < info.height; ++y)
    skipped = zefdec_line(&image, nullptr, nullptr, 0);
  EXPECT_EQ(skipped, result) << what << ", lines skipped";
  for (const zefdec_canvas_format format : {ZEFDEC_CANVAS_RGB565, ZEFDEC_CANVAS_RGB888}) {
    Canvas canvas(format, info.width, info.height, 4 * info.width, 0);
    const zefdec_canvas view = canvas.View();
    EXPECT_EQ(zefdec_draw(&archive, 0, &view, 0, 0), result) << what << ", draw onto " << format;
  }
}

// Version 3, two images of 3 x 1 on two palettes.
const std::vector<uint16_t> kPalette = {0x0F80, 0x0123, 0x0456};
Bytes TwoImages(Bytes first = RunData({{{2, 3}}}), uint16_t secondPalette = 1) {
  return ArchiveV3(CodeHeader(0, 0), 0,
                   {{3, 1, std::move(first)}, {3, 1, RunData({{{0, 1}, {1, 2}}}), secondPalette}},
                   {kPalette, kPalette});
}

// Where the fields of TwoImages sit.
constexpr size_t kRecords = zef::kHeaderSizeV3 + 2;
constexpr size_t kPaletteBlock = kRecords + 2 * zef::kImageRecordSizeV3;
constexpr size_t kPaletteRecords = kPaletteBlock + zef::kPaletteSpecificationsHead;

void SetU32(Bytes& bytes, size_t at, uint32_t value) {
  for (int b = 0; b < 4; ++b) bytes[at + b] = uint8_t(value >> (8 * b));
}

TEST(DeviceRefusal, GoodArchivesOpen) {
  EXPECT_EQ(OpenResult(TwoImages()), ZEFDEC_OK);
  EXPECT_EQ(OpenResult(ArchiveV2(WordHeader(), {{3, 1, RunData({{{0xF123, 3}}}, true)}})),
            ZEFDEC_OK);
}

TEST(DeviceRefusal, Header) {
  EXPECT_EQ(OpenResult({0xAA, 0xFF, 0xAA, 0x01}), ZEFDEC_E_HEADER);
  EXPECT_EQ(OpenResult({0xAA}), ZEFDEC_E_HEADER);
  Bytes bytes = TwoImages();
  bytes[1] = 0xFE;
  EXPECT_EQ(OpenResult(bytes), ZEFDEC_E_HEADER);
  for (uint8_t version : {0, 5, 0xFF}) {
    bytes = TwoImages();
    bytes[3] = version;
    EXPECT_EQ(OpenResult(bytes), ZEFDEC_E_VERSION);
  }
  bytes = TwoImages();
  SetU32(bytes, 5, 0);  // imageCount
  EXPECT_EQ(OpenResult(bytes), ZEFDEC_E_HEADER);
  bytes = TwoImages();
  bytes[22] = 0xDE;  // end-of-header marker
  EXPECT_EQ(OpenResult(bytes), ZEFDEC_E_HEADER);
  EXPECT_EQ(OpenResult(Bytes(bytes.begin(), bytes.begin() + 20)), ZEFDEC_E_HEADER);
}

TEST(DeviceRefusal, Version1HeaderValues) {
  Bytes raw;
  PutU16(raw, 0xF123);
  EXPECT_EQ(OpenResult(ArchiveV1(zef::kVersion1Header, {1, 1, raw})), ZEFDEC_OK);
  for (int field = 0; field < 6; ++field) {
    zef::HeaderBytes header = zef::kVersion1Header;
    reinterpret_cast<uint8_t*>(&header)[field] ^= 1;
    EXPECT_EQ(OpenResult(ArchiveV1(header, {1, 1, raw})), ZEFDEC_E_HEADER) << field;
  }
  EXPECT_EQ(OpenResult(ArchiveV1(zef::kVersion1Header, {0, 1, {}})), ZEFDEC_E_HEADER);
  EXPECT_EQ(OpenResult(ArchiveV1(zef::kVersion1Header, {1, 0, {}})), ZEFDEC_E_HEADER);
  EXPECT_EQ(OpenResult(ArchiveV1(zef::kVersion1Header, {2, 1, raw})), ZEFDEC_E_SHORT);
}

TEST(DeviceRefusal, Tables) {
  Bytes bytes = TwoImages();
  bytes[kRecords - 1] = 0xBB;
  EXPECT_EQ(OpenResult(bytes), ZEFDEC_E_TABLE);
  bytes = TwoImages();
  SetU32(bytes, 5, 0xFFFFFFFF);  // more records than the file holds
  EXPECT_EQ(OpenResult(bytes), ZEFDEC_E_TABLE);
  // paletteIndex equal to paletteCount
  EXPECT_EQ(OpenResult(TwoImages(RunData({{{2, 3}}}), 2)), ZEFDEC_E_TABLE);
}

TEST(DeviceRefusal, PaletteBlock) {
  Bytes bytes = TwoImages();
  bytes[kPaletteBlock] = 0xFB;
  EXPECT_EQ(OpenResult(bytes), ZEFDEC_E_PALETTE);
  bytes = TwoImages();
  SetU32(bytes, kPaletteBlock + 2, 0xFFFFFFFF);  // paletteCount
  EXPECT_EQ(OpenResult(bytes), ZEFDEC_E_PALETTE);
  bytes = TwoImages();
  SetU32(bytes, kPaletteRecords + 2, 0xFFFFFFFF);  // entryCount
  EXPECT_EQ(OpenResult(bytes), ZEFDEC_E_PALETTE);
  bytes = TwoImages();
  SetU32(bytes, kPaletteRecords + 6, 0xFFFFFFFE);  // dataOffset far outside
  EXPECT_EQ(OpenResult(bytes), ZEFDEC_E_PALETTE);
  bytes = TwoImages();
  bytes[kPaletteRecords + 2 * zef::kPaletteRecordSize + 1] = 0xBF;  // first palette's marker
  EXPECT_EQ(OpenResult(bytes), ZEFDEC_E_PALETTE);
  // one entry fewer: the first image marker no longer follows the last palette
  bytes = TwoImages();
  SetU32(bytes, kPaletteRecords + zef::kPaletteRecordSize + 2, 2);
  EXPECT_EQ(OpenResult(bytes), ZEFDEC_E_MARKER);
}

TEST(DeviceRefusal, ImageMarkersAndOffsets) {
  const Bytes good = TwoImages();
  const size_t first = U32At(good, kRecords + 12);
  const size_t second = U32At(good, kRecords + 16 + 12);
  Bytes bytes = good;
  bytes[second + 1] = 0xFF;
  EXPECT_EQ(OpenResult(bytes), ZEFDEC_E_MARKER);
  bytes = good;
  SetU32(bytes, kRecords + 16 + 12, uint32_t(second + 1));  // one byte off
  EXPECT_EQ(OpenResult(bytes), ZEFDEC_E_MARKER);
  bytes = good;
  SetU32(bytes, kRecords + 12, uint32_t(first - 2));
  EXPECT_EQ(OpenResult(bytes), ZEFDEC_E_MARKER);

  // version 2: the second record one byte off
  Bytes v2 = ArchiveV2(WordHeader(), {{1, 1, RunData({{{0xF123, 1}}}, true)},
                                      {1, 1, RunData({{{0xF123, 1}}}, true)}});
  SetU32(v2, 21 + 14 + 10, U32At(v2, 21 + 14 + 10) + 1);
  EXPECT_EQ(OpenResult(v2), ZEFDEC_E_MARKER);
}

TEST(DeviceRefusal, RunLengthData) {
  // the runs of a line must add up to the width, without passing it
  EXPECT_EQ(OpenResult(TwoImages(RunData({{{2, 4}}}))), ZEFDEC_E_RUN);
  EXPECT_EQ(OpenResult(TwoImages(RunData({{{2, 1}, {2, 3}}}))), ZEFDEC_E_RUN);
  // palette index outside the image's palette
  EXPECT_EQ(OpenResult(TwoImages(RunData({{{3, 3}}}))), ZEFDEC_E_COLOUR);
  // line entry count 3 over 2 runs, and 1 over 2 runs (the count wraps)
  Bytes data = RunData({{{2, 1}, {2, 2}}});
  data[4] = 3;
  EXPECT_EQ(OpenResult(TwoImages(data)), ZEFDEC_E_LINE_COUNT);
  data[4] = 1;
  EXPECT_EQ(OpenResult(TwoImages(data)), ZEFDEC_E_LINE_COUNT);
  // image entry count 5 over 2 runs
  data = RunData({{{2, 1}, {2, 2}}});
  data[0] = 5;
  EXPECT_EQ(OpenResult(TwoImages(data)), ZEFDEC_E_IMAGE_COUNT);
  // empty runs count as runs: 1 run of 0 then 1 of 3 is two entries
  data = RunData({{{2, 0}, {2, 3}}});
  EXPECT_EQ(OpenResult(TwoImages(data)), ZEFDEC_OK);
  data[4] = 1;
  EXPECT_EQ(OpenResult(TwoImages(data)), ZEFDEC_E_LINE_COUNT);
}

TEST(DeviceRefusal, RunLengthDataMetByEveryReader) {
  Bytes shortLine = RunData({{{2, 1}, {2, 2}}}), longLine = shortLine, manyRuns = shortLine;
  shortLine[4] = 3;
  longLine[4] = 1;
  manyRuns[0] = 5;
  const struct {
    const char* name;
    Bytes data;
    int result;
  } cases[] = {
      {"sound", RunData({{{2, 1}, {2, 2}}}), ZEFDEC_OK},
      {"runs past the width", RunData({{{2, 1}, {2, 3}}}), ZEFDEC_E_RUN},
      {"code past the palette", RunData({{{3, 3}}}), ZEFDEC_E_COLOUR},
      {"line count over its runs", shortLine, ZEFDEC_E_LINE_COUNT},
      {"line count under its runs", longLine, ZEFDEC_E_LINE_COUNT},
      {"image count over its runs", manyRuns, ZEFDEC_E_IMAGE_COUNT},
  };
  for (const auto& c : cases) ExpectEveryReaderMeets(TwoImages(c.data), c.result, c.name);
}

// Version 4, two images of 3 x 1: the block's bytes after the marker.
Bytes Version4(Bytes first, uint32_t firstWidth = 3, uint32_t count = 2) {
  std::vector<ImageSpec> images = {{firstWidth, 1, std::move(first)},
                                   {3, 1, {2, 2, 1, 2, 3, 255, 0, 0, 0, 0, 4, 5, 6, 7, 0x02, 0x90}}};
  images.resize(count);
  return ArchiveV4(0, images);
}

// entries 0 and 1, then the ops
Bytes Block(uint8_t bits, std::initializer_list<uint8_t> ops) {
  Bytes out = {bits, 1, 9, 9, 9, 0, 200, 100, 50, 255};
  out.insert(out.end(), ops);
  return out;
}

TEST(DeviceRefusal, Version4) {
  struct Case {
    const char* name;
    Bytes bytes;
    int result;
  };
  Bytes manyImages = Version4(Block(1, {0xC2}), 3, 1);
  SetU32(manyImages, 5, 65537);
  const Case cases[] = {
      {"sound", Version4(Block(1, {0x02, 0x40})), ZEFDEC_OK},
      {"runs of each kind", Version4(Block(2, {0xC0, 0x81, 0x01})), ZEFDEC_OK},
      {"one entry", Version4({1, 0, 1, 2, 3, 4, 0xC2}), ZEFDEC_OK},
      {"more than 65536 images", manyImages, ZEFDEC_E_HEADER},
      {"width past 65534", Version4(Block(1, {0xC2}), 65535), ZEFDEC_E_TABLE},
      {"index bits 0", Version4(Block(0, {0xC2})), ZEFDEC_E_PALETTE},
      {"index bits 9", Version4(Block(9, {0xC2})), ZEFDEC_E_PALETTE},
      {"more entries than 1 bit addresses", Version4({1, 2, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 0xC2}),
       ZEFDEC_E_PALETTE},
      {"entries cut by the end", Version4({8, 200, 1, 2, 3}, 3, 1), ZEFDEC_E_SHORT},
      {"literal index outside", Version4(Block(2, {0x02, 0x18})), ZEFDEC_E_COLOUR},
      {"run index outside", Version4(Block(2, {0x82, 0x02})), ZEFDEC_E_COLOUR},
      {"literal past the line", Version4(Block(1, {0x03, 0x00})), ZEFDEC_E_RUN},
      {"run past the line", Version4(Block(1, {0xC1, 0x81, 0x01})), ZEFDEC_E_RUN},
      {"run of entry 0 past the line", Version4(Block(1, {0xC3})), ZEFDEC_E_RUN},
      {"line short of its width", Version4(Block(1, {0xC1}), 3, 1), ZEFDEC_E_SHORT},
      {"literal cut by the end", Version4(Block(8, {0x02, 0x00, 0x01}), 3, 1), ZEFDEC_E_SHORT},
      {"run cut before its index", Version4(Block(1, {0x82}), 3, 1), ZEFDEC_E_SHORT},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OpenResult(c.bytes), c.result) << c.name;
    // the header and tables are checked by a trusted open too
    if (c.result != ZEFDEC_E_HEADER && c.result != ZEFDEC_E_TABLE && c.result != ZEFDEC_E_PALETTE)
      ExpectEveryReaderMeets(c.bytes, c.result, c.name);
  }
}

// One index past the palette in a literal of 30 is found wherever it
// stands, at every index width that can hold one: by the open, and by a
// draw that checks the pixels left and right of its clip and draws those
// inside.
TEST(DeviceRefusal, Version4LiteralIndexPastThePaletteAnywhere) {
  const uint32_t n = 30;
  for (uint8_t bits = 2; bits <= 8; ++bits) {
    for (int bad = -1; bad < int(n); ++bad) {
      Bytes block = {bits, 1, 9, 9, 9, 0, 200, 100, 50, 255, uint8_t(n - 1)};
      block.resize(block.size() + (n * bits + 7) / 8);
      uint8_t* packed = block.data() + 11;
      for (uint32_t k = 0; k < n; ++k) {
        const uint32_t index = int(k) == bad ? 2 : 1;
        for (uint32_t b = 0; b < bits; ++b) {
          if (index >> (bits - 1 - b) & 1) packed[(k * bits + b) / 8] |= uint8_t(0x80 >> ((k * bits + b) % 8));
        }
      }
      const Bytes bytes = Version4(block, n);
      const int expected = bad < 0 ? int(ZEFDEC_OK) : int(ZEFDEC_E_COLOUR);
      const std::string what = std::to_string(bits) + " bits, bad index at " + std::to_string(bad);
      EXPECT_EQ(OpenResult(bytes), expected) << what;
      zefdec_archive archive;
      ASSERT_EQ(zefdec_open_with(&archive, bytes.data(), bytes.size(), ZEFDEC_TRUSTED), ZEFDEC_OK);
      Canvas canvas(ZEFDEC_CANVAS_RGB565, 10, 1, 20, 0);
      zefdec_canvas view = canvas.View();
      EXPECT_EQ(zefdec_draw(&archive, 0, &view, -10, 0), expected) << what;
    }
  }
}


TEST(DeviceRefusal, EveryTruncation) {
  const Bytes good = TwoImages();
  // the last image ends the file, so every shorter prefix is damaged
  for (size_t size = 0; size < good.size(); ++size) {
    EXPECT_LT(OpenResult(Bytes(good.begin(), good.begin() + size)), 0) << size;
  }
  Bytes longer = good;
  longer.push_back(0);
  EXPECT_EQ(OpenResult(longer), ZEFDEC_OK);  // bytes after the last image are not read
}

TEST(DeviceRefusal, RawDataThatIsNotThere) {
  Bytes raw;
  PutU16(raw, 0xF123);
  EXPECT_EQ(OpenResult(ArchiveV2(WordHeader(0), {{1, 1, raw}})), ZEFDEC_OK);
  EXPECT_EQ(OpenResult(ArchiveV2(WordHeader(0), {{2, 1, raw}})), ZEFDEC_E_SHORT);
  // a huge raw image is refused at once, not walked
  EXPECT_EQ(OpenResult(ArchiveV2(WordHeader(0), {{0x10000, 0x10000, raw}})), ZEFDEC_E_SHORT);
}

TEST(DeviceRefusal, ImagesWithoutPixels) {
  // zero-width raw lines would take no bytes, however many there were
  EXPECT_EQ(OpenResult(ArchiveV2(WordHeader(0), {{0, 0xFFFFFFFF, {}}})), ZEFDEC_E_TABLE);
  EXPECT_EQ(OpenResult(ArchiveV3(CodeHeader(0, 0), 0, {{3, 0, RunData({})}}, {kPalette})),
            ZEFDEC_E_TABLE);
  EXPECT_EQ(OpenResult(ArchiveV3(CodeHeader(0, 0), 0, {{0, 2, RunData({{}, {}})}}, {kPalette})),
            ZEFDEC_E_TABLE);
}

// Bytes changed after opening, which the API forbids, stop a draw with the
// error of the first line it reads; lines below the canvas are not read.
TEST(DeviceRefusal, DrawReadsOnlyTheLinesItNeeds) {
  // 2 x 3, one run per line; line k's pixel code sits 4 * (3 - k) - 2 bytes from the end
  const Bytes good = ArchiveV3(CodeHeader(0, 0), 0, {{2, 3, RunData({{{0, 2}}, {{1, 2}}, {{2, 2}}})}},
                               {kPalette});
  auto codeOfLine = [&](size_t line) { return good.size() - 4 * (3 - line) + 2; };
  struct Case {
    size_t damagedLine;
    int32_t y;
    uint32_t canvasHeight;
    int result;
    uint32_t linesDrawn;
  };
  const Case cases[] = {
      {2, 0, 2, ZEFDEC_OK, 2},           // the damage lies below the canvas
      {2, 0, 3, ZEFDEC_E_COLOUR, 2},     // the damaged line is visible
      {0, -1, 3, ZEFDEC_E_COLOUR, 0},    // above the canvas, skipped but checked
      {2, -2, 3, ZEFDEC_E_COLOUR, 0},
      {0, 3, 3, ZEFDEC_OK, 0},           // nothing visible, nothing read
  };
  for (const Case& c : cases) {
    Bytes bytes = good;
    zefdec_archive archive;
    ASSERT_EQ(zefdec_open(&archive, bytes.data(), bytes.size()), ZEFDEC_OK);
    bytes[codeOfLine(c.damagedLine)] = 3;  // past the palette's three colours
    Canvas canvas(ZEFDEC_CANVAS_RGB565, 2, c.canvasHeight, 4, 9);
    const std::vector<uint32_t> before = canvas.storage;
    const zefdec_canvas view = canvas.View();
    EXPECT_EQ(zefdec_draw(&archive, 0, &view, 0, c.y), c.result) << c.damagedLine << " " << c.y;
    for (uint32_t row = 0; row < c.canvasHeight; ++row) {
      EXPECT_EQ(canvas.storage[row] != before[row], row < c.linesDrawn)
          << "line " << c.damagedLine << ", y " << c.y << ", canvas row " << row;
    }
  }
}

}  // namespace

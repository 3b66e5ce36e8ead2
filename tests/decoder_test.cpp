// The three image data decoders on hand-made data: pixels, alpha layouts
// and every check with its message, in the order the checks run.
#include <gtest/gtest.h>

#include "DeviceArchives.h"
#include "archive/ZefImgReader.h"

namespace {

using zeftest::Bytes;
using zeftest::Line;
using zeftest::RunData;

struct Decoded {
  std::optional<cv::Mat> image;
  std::string error;
  uint64_t position = 0;
};

// Palette colours as the archive stores them.
Bytes PaletteBytes(const std::vector<uint16_t>& colours) {
  Bytes bytes;
  for (uint16_t colour : colours) zeftest::PutU16(bytes, colour);
  return bytes;
}

Decoded DecodePalette(const Bytes& data, uint32_t width, uint32_t height,
                      const std::vector<uint16_t>& colours, uint8_t alphaMode = 0,
                      uint8_t alphaBits = 0, uint8_t alphaPosition = zef::kAlphaPositionHigh) {
  const Bytes palette = PaletteBytes(colours);
  zef::ZefImgReader reader;
  zef::InputBuffer in(data.data(), data.size());
  Decoded out;
  out.image = reader.ReadPaletteImage(
      width, height, alphaPosition, alphaMode, alphaBits, in,
      zef::PaletteColours(palette.data(), palette.size(), 0, uint32_t(colours.size())));
  out.error = reader.GetError();
  out.position = in.Position();
  return out;
}

Decoded DecodeWords(const Bytes& data, uint32_t width, uint32_t height, bool raw,
                    uint8_t alphaPosition = zef::kAlphaPositionHigh) {
  zef::ZefImgReader reader;
  zef::InputBuffer in(data.data(), data.size());
  Decoded out;
  out.image = raw ? reader.ReadColorImageRaw(width, height, alphaPosition, in)
                  : reader.ReadColorImage(width, height, alphaPosition, in);
  out.error = reader.GetError();
  out.position = in.Position();
  return out;
}

// Palette colour n is n itself: 4096 distinct colours.
std::vector<uint16_t> CountingPalette(size_t size) {
  std::vector<uint16_t> colours(size);
  for (size_t n = 0; n < size; ++n) colours[n] = uint16_t(n);
  return colours;
}

cv::Vec3b PixelOfColour(uint16_t colour) {
  return {uint8_t((colour & 15) << 4), uint8_t(((colour >> 4) & 15) << 4),
          uint8_t(((colour >> 8) & 15) << 4)};
}

const Bytes kThreePixels = {0x01, 0, 0, 0, 0x01, 0, 0x02, 0x03};
const std::vector<uint16_t> kPaletteWithColour2 = {0x0000, 0x0111, 0x0F80};

TEST(PaletteImage, ThreePixelsOfOnePaletteColour) {
  const Decoded out = DecodePalette(kThreePixels, 3, 1, kPaletteWithColour2);
  ASSERT_TRUE(out.image) << out.error;
  ASSERT_EQ(out.image->type(), CV_8UC3);
  ASSERT_EQ(out.image->size(), cv::Size(3, 1));
  for (int x = 0; x < 3; ++x) EXPECT_EQ(out.image->at<cv::Vec3b>(0, x), cv::Vec3b(0, 128, 240));
  EXPECT_EQ(out.position, kThreePixels.size());
}

TEST(PaletteImage, RunPastTheLineEnd) {
  EXPECT_EQ(DecodePalette(kThreePixels, 2, 1, kPaletteWithColour2).error,
            "error in image data (RLE line too long)");
}

TEST(PaletteImage, CodeOutsideThePalette) {
  const Decoded out = DecodePalette(kThreePixels, 3, 1, {0x0F80});
  EXPECT_FALSE(out.image);
  EXPECT_EQ(out.error, "error in image data (color outside palette dimenions)");
}

TEST(PaletteImage, LineWithFewerRunsThanAnnounced) {
  // Line 0 announces 3 runs but covers its width with 2; line 1 is not read.
  Bytes data = RunData({{{1, 2}, {2, 2}}, {{1, 4}}});
  data[4] = 3;
  const Decoded out = DecodePalette(data, 4, 2, CountingPalette(4));
  EXPECT_EQ(out.error, "error in image data (entries not valid at a line)");
  EXPECT_EQ(out.position, 4u + 2 + 2 * 2);
}

TEST(PaletteImage, LineWithMoreRunsThanAnnouncedWrapsTheCount) {
  Bytes data = RunData({{{1, 1}, {2, 1}, {3, 2}}});
  data[4] = 2;
  EXPECT_EQ(DecodePalette(data, 4, 1, CountingPalette(4)).error,
            "error in image data (entries not valid at a line)");
  // No announced runs for one real run: the count wraps below 0.
  Bytes wrapped = RunData({{{1, 4}}});
  wrapped[4] = 0;
  EXPECT_EQ(DecodePalette(wrapped, 4, 1, CountingPalette(4)).error,
            "error in image data (entries not valid at a line)");
}

TEST(PaletteImage, LineCountIsSixteenBitsWide) {
  // 65536 runs announced as 0: the count wraps all the way round to 0.
  const Decoded out = DecodePalette(RunData({Line(65536, {2, 1})}), 65536, 1, CountingPalette(4));
  ASSERT_TRUE(out.image) << out.error;
  EXPECT_EQ(out.image->at<cv::Vec3b>(0, 65535), PixelOfColour(2));
}

TEST(PaletteImage, ImageEntryCountDiffersFromTheRuns) {
  Bytes data = RunData({{{1, 2}, {2, 2}}, {{1, 3}, {0, 1}}});
  data[0] = 5;
  EXPECT_EQ(DecodePalette(data, 4, 2, CountingPalette(4)).error, "entries!=allentries?!");
}

TEST(PaletteImage, AlphaBitsAreDroppedFromThePixelCode) {
  const std::vector<uint16_t> palette = CountingPalette(256);
  struct Case {
    uint8_t code, alphaMode, alphaBits, alphaPosition;
    uint16_t index;
  };
  const Case cases[] = {
      {0xC5, 1, 2, zef::kAlphaPositionHigh, 5},    {0xC6, 1, 1, zef::kAlphaPositionHigh, 70},
      {0xC5, 0, 2, zef::kAlphaPositionHigh, 197},  {0xC5, 0, 0, zef::kAlphaPositionLow, 197},
      {0x17, 1, 2, zef::kAlphaPositionLow, 5},     {0x8D, 1, 1, zef::kAlphaPositionLow, 70},
  };
  for (const Case& c : cases) {
    const Decoded out = DecodePalette(RunData({{{c.code, 1}}}), 1, 1, palette, c.alphaMode,
                                      c.alphaBits, c.alphaPosition);
    ASSERT_TRUE(out.image) << out.error;
    // With alpha position 1 the palette colour itself is laid out with its
    // channels in bits 15-4.
    const uint16_t colour = c.alphaPosition == zef::kAlphaPositionLow ? uint16_t(c.index >> 4)
                                                                      : c.index;
    EXPECT_EQ(out.image->at<cv::Vec3b>(0, 0), PixelOfColour(colour)) << int(c.code);
  }
}

TEST(PaletteImage, RunOfLengthZeroCountsButAddsNoPixels) {
  const Decoded out = DecodePalette(RunData({{{1, 0}, {2, 2}}}), 2, 1, CountingPalette(4));
  ASSERT_TRUE(out.image) << out.error;
  EXPECT_EQ(out.image->at<cv::Vec3b>(0, 0), PixelOfColour(2));
}

TEST(PaletteImage, DataCutInTheMiddleOfALine) {
  const Bytes whole = RunData({{{1, 2}, {2, 8}}});
  const Bytes cut(whole.begin(), whole.end() - 1);
  const Decoded out = DecodePalette(cut, 10, 1, CountingPalette(4));
  EXPECT_FALSE(out.image);
  EXPECT_EQ(out.error, "error in image data (too short)");
}

TEST(PaletteImage, CutRunKeepsTheLastLengthAndCanBeTooLong) {
  // The stale length 7 of the first run pushes the cut second run past 10.
  const Bytes whole = RunData({{{1, 7}, {2, 3}}});
  const Bytes cut(whole.begin(), whole.end() - 2);
  EXPECT_EQ(DecodePalette(cut, 10, 1, CountingPalette(4)).error,
            "error in image data (RLE line too long)");
  const Bytes shortFirst = RunData({{{1, 3}, {2, 7}}});
  EXPECT_EQ(DecodePalette(Bytes(shortFirst.begin(), shortFirst.end() - 2), 10, 1,
                          CountingPalette(4)).error,
            "error in image data (too short)");
}

TEST(PaletteImage, LinesAboveAnyRunLengthAreFilledCompletely) {
  const Decoded out = DecodePalette(RunData({{{3, 255}, {3, 45}}, {{1, 100}, {2, 200}}}), 300, 2,
                                    CountingPalette(4));
  ASSERT_TRUE(out.image) << out.error;
  cv::Mat expected(2, 300, CV_8UC3, cv::Scalar::all(0));
  expected.row(0).setTo(PixelOfColour(3));
  expected(cv::Rect(0, 1, 100, 1)).setTo(PixelOfColour(1));
  expected(cv::Rect(100, 1, 200, 1)).setTo(PixelOfColour(2));
  EXPECT_EQ(cv::norm(*out.image, expected, cv::NORM_INF), 0);
}

TEST(Decoders, ImageOfNoWidthOrHeightIsRefused) {
  EXPECT_EQ(DecodePalette(RunData({}), 1, 0, {1}).error, "wrong image data");
  EXPECT_EQ(DecodeWords(RunData({{}}), 0, 1, false).error, "wrong image data");
  EXPECT_EQ(DecodeWords({}, 0, 0, true).error, "wrong image data");
}

TEST(ColourImage, RunsIgnoreTheAlphaNibble) {
  const Decoded out = DecodeWords(RunData({{{0x0123, 2}}}, true), 2, 1, false);
  ASSERT_TRUE(out.image) << out.error;
  EXPECT_EQ(out.image->at<cv::Vec3b>(0, 1), cv::Vec3b(48, 32, 16));
}

TEST(ColourImage, ChecksRunInTheOrderOfThePaletteDecoder) {
  Bytes lineCount = RunData({{{0xF123, 2}}}, true);
  lineCount[4] = 2;
  EXPECT_EQ(DecodeWords(lineCount, 2, 1, false).error,
            "error in image data (entries not valid at a line)");
  EXPECT_EQ(DecodeWords(RunData({{{0xF123, 3}}}, true), 2, 1, false).error,
            "error in image data (RLE line too long)");
  Bytes total = RunData({{{0xF123, 2}}}, true);
  total[0] = 0;
  EXPECT_EQ(DecodeWords(total, 2, 1, false).error, "entries!=allentries?!");
}

TEST(RawImage, AlphaNibbleZeroIsBlack) {
  Bytes data;
  zeftest::PutU16(data, 0xF123);
  zeftest::PutU16(data, 0x0123);
  const Decoded out = DecodeWords(data, 2, 1, true);
  ASSERT_TRUE(out.image) << out.error;
  EXPECT_EQ(out.image->at<cv::Vec3b>(0, 0), cv::Vec3b(48, 32, 16));
  EXPECT_EQ(out.image->at<cv::Vec3b>(0, 1), cv::Vec3b(0, 0, 0));
}

TEST(RawImage, AlphaPositionOneReadsTheColourFromTheHighBits) {
  Bytes data;
  zeftest::PutU16(data, 0xF123);
  const Decoded out = DecodeWords(data, 1, 1, true, zef::kAlphaPositionLow);
  ASSERT_TRUE(out.image) << out.error;
  EXPECT_EQ(out.image->at<cv::Vec3b>(0, 0), cv::Vec3b(32, 16, 240));
}

TEST(RawImage, TooFewWordsAreReadToTheEndAndFail) {
  const Decoded out = DecodeWords(Bytes(5, 0xFF), 3, 1, true);
  EXPECT_FALSE(out.image);
  EXPECT_EQ(out.error, "error in image data (too short)");
  EXPECT_EQ(out.position, 5u);
}

}  // namespace

// How lines are cut into runs and how the counts in front of them come out.
#include <gtest/gtest.h>

#include "TestImages.h"
#include "writer/ZefImgWriter.h"

using namespace zeftest;

namespace {

cv::Mat IndexRow(const std::vector<uint8_t>& codes) {
  return cv::Mat(codes, true).reshape(1, 1);
}

// The image data that WritePaletteImage or WriteColorImage produces.
template <typename Encode>
Bytes Encoded(Encode encode) {
  TempDir dir;
  zef::OutputFile out;
  EXPECT_TRUE(out.Open(dir / "data"));
  encode(out);
  EXPECT_TRUE(out.Close());
  return ReadFile(dir / "data");
}

TEST(LineEncoder, RunsOfOneLine) {
  zef::ZefImgWriter writer;
  writer.SetVersion(3);
  EXPECT_EQ(Encoded([&](auto& out) { writer.WritePaletteImage(IndexRow({5, 5, 5, 7}), {}, out); }),
            (Bytes{2, 0, 0, 0, 2, 0, 5, 3, 7, 1}));
  EXPECT_EQ(Encoded([&](auto& out) { writer.WritePaletteImage(IndexRow({9}), {}, out); }),
            (Bytes{1, 0, 0, 0, 1, 0, 9, 1}));
}

TEST(LineEncoder, LongRunsAreCutAt255) {
  zef::ZefImgWriter writer;
  writer.SetVersion(3);
  std::vector<uint8_t> line(300, 9);
  EXPECT_EQ(Encoded([&](auto& out) { writer.WritePaletteImage(IndexRow(line), {}, out); }),
            (Bytes{2, 0, 0, 0, 2, 0, 9, 255, 9, 45}));
  line.assign(256, 9);
  line.push_back(4);
  EXPECT_EQ(Encoded([&](auto& out) { writer.WritePaletteImage(IndexRow(line), {}, out); }),
            (Bytes{3, 0, 0, 0, 3, 0, 9, 255, 9, 1, 4, 1}));
}

TEST(LineEncoder, RunsNeverCrossALineEnd) {
  zef::ZefImgWriter writer;
  writer.SetVersion(3);
  // Lines of 2, 1 and 4 runs; the last pixel of a line equals the next line's first.
  const cv::Mat index = IndexRow({1, 2, 2, 2, 2, 2, 2, 2, 2, 3, 2, 3}).reshape(1, 3);
  const Bytes data = Encoded([&](auto& out) { writer.WritePaletteImage(index, {}, out); });
  ASSERT_EQ(data.size(), 4 + 3 * 2 + 7 * 2u);
  EXPECT_EQ(U32At(data, 0), 7u);
  EXPECT_EQ(Bytes(data.begin() + 4, data.begin() + 10), (Bytes{2, 0, 1, 1, 2, 3}));
  EXPECT_EQ(Bytes(data.begin() + 10, data.begin() + 14), (Bytes{1, 0, 2, 4}));
  EXPECT_EQ(U16At(data, 14), 4);

  zef::ZefImgWriter colourWriter;
  const cv::Mat colours = MakeImage(4, 3, [&](int x, int y) {
    const uint8_t v = index.at<uint8_t>(y, x);
    return cv::Vec3b(uint8_t(v << 4), 0, 0);
  });
  const Bytes words = Encoded([&](auto& out) { colourWriter.WriteColorImage(colours, {}, out); });
  ASSERT_EQ(words.size(), 4 + 3 * 2 + 7 * 3u);
  EXPECT_EQ(U32At(words, 0), 7u);
  // colour word 0xF001 (opaque, blue 1) then length 1
  EXPECT_EQ(Bytes(words.begin() + 4, words.begin() + 9), (Bytes{2, 0, 0x01, 0xF0, 1}));
}

TEST(LineEncoder, EmptyImages) {
  zef::ZefImgWriter writer;
  writer.SetVersion(3);
  EXPECT_EQ(Encoded([&](auto& out) { writer.WritePaletteImage(cv::Mat(0, 4, CV_8UC1), {}, out); }),
            (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(Encoded([&](auto& out) { writer.WritePaletteImage(cv::Mat(2, 0, CV_8UC1), {}, out); }),
            (Bytes{0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(LineEncoder, MasksPackAlphaIntoEveryPixelCode) {
  zef::ZefImgWriter writer;
  writer.SetVersion(3);  // two alpha bits
  cv::Mat mask = FlatMask(3, 1, 255);
  mask.at<uint8_t>(0, 2) = 10;
  EXPECT_EQ(Encoded([&](auto& out) { writer.WritePaletteImage(IndexRow({5, 5, 5}), mask, out); }),
            (Bytes{2, 0, 0, 0, 2, 0, 0xC5, 2, 0x05, 1}));

  writer.setAlpha(0);  // a mask with no alpha bits cannot be coded
  zef::OutputFile unopened;
  EXPECT_FALSE(writer.WritePaletteImage(IndexRow({5}), FlatMask(1, 1, 0), unopened));
  EXPECT_EQ(writer.GetError(), "AlphaMode not implemented...");
}

TEST(LineEncoder, EncodersRefuseMismatchedLayouts) {
  zef::ZefImgWriter writer;
  zef::OutputFile unopened;
  EXPECT_FALSE(writer.WritePaletteImage(IndexRow({1, 2}), FlatMask(3, 1, 0), unopened));
  EXPECT_EQ(writer.GetError(), "WritePaletteImage: index image or mask of the wrong layout");
  EXPECT_FALSE(writer.WriteColorImage(IndexRow({1, 2}), {}, unopened));
  EXPECT_EQ(writer.GetError(), "WriteColorImage: image or mask of the wrong layout");
}

TEST(LineEncoder, ImageTableNeedsAPaletteMappingInVersion3) {
  zef::ZefImgWriter writer;
  writer.SetVersion(3);
  const std::vector<cv::Mat> images = {FlatImage(1, 1, {})};
  const std::vector<int32_t> tooShort;
  for (const std::vector<int32_t>* mapping : {static_cast<const std::vector<int32_t>*>(nullptr), &tooShort}) {
    EXPECT_EQ(Encoded([&](auto& out) { EXPECT_FALSE(writer.WriteImageSpecifications(out, images, mapping)); }),
              Bytes{});
    EXPECT_EQ(writer.GetError(), "WriteImageSpecifications: no (or uncorrect) palette information "
                                 "for version3 specifications");
  }
}

}  // namespace

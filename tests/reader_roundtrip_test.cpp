// What the writer writes, the reader gives back: the source images with
// the low four bits of every channel cleared, in every version and alpha
// setting the writer makes.
#include <gtest/gtest.h>

#include <random>

#include "TestImages.h"
#include "archive/ZefImgReader.h"
#include "writer/ZefImgWriter.h"

namespace {

using namespace zeftest;

struct Setting {
  int version;
  int alphaValues;  // version 3 only
  bool masks;
  int colours;      // most colours the setting's palettes take
};

const Setting kSettings[] = {
    {2, 0, false, 4096}, {2, 0, true, 4096},  {3, 0, false, 256}, {3, 2, false, 128},
    {3, 2, true, 128},   {3, 4, false, 64},   {3, 4, true, 64},
};

void ExpectRoundTrip(zef::ZefImgWriter& writer, const std::vector<cv::Mat>& images,
                     const std::vector<cv::Mat>& masks, uint32_t startIndex) {
  TempDir dir;
  const std::string name = (dir / "round.zef").string();
  ASSERT_TRUE(writer.Write(name, images, masks)) << writer.GetError();
  zef::ZefImgReader reader;
  const std::optional<std::vector<cv::Mat>> decoded = reader.Read(name);
  ASSERT_TRUE(decoded) << reader.GetError();
  EXPECT_EQ(reader.GetError(), "");
  EXPECT_EQ(reader.GetStartIndex(), startIndex);
  ASSERT_EQ(decoded->size(), images.size());
  for (size_t n = 0; n < images.size(); ++n) {
    const cv::Mat& back = (*decoded)[n];
    ASSERT_EQ(back.type(), CV_8UC3);
    ASSERT_EQ(back.size(), images[n].size());
    EXPECT_EQ(cv::norm(back, Quantised(images[n]), cv::NORM_INF), 0) << "image " << n;
  }
}

TEST(ReaderRoundTrip, EveryVersionAndAlphaSetting) {
  std::mt19937 random(20240611);
  for (const Setting& setting : kSettings) {
    SCOPED_TRACE(testing::Message() << "version " << setting.version << " alpha "
                                    << setting.alphaValues << " masks " << setting.masks);
    std::vector<cv::Mat> images, masks;
    for (int n = 0; n < 3; ++n) {
      const int width = 1 + int(random() % 300), height = 1 + int(random() % 40);
      images.push_back(RandomImage(random, width, height, int(1 + random() % setting.colours)));
      if (setting.masks) masks.push_back(RandomMask(random, width, height));
    }
    zef::ZefImgWriter writer;
    writer.SetVersion(setting.version);
    if (setting.version == zef::kVersion3) {
      writer.setAlpha(setting.alphaValues);
      writer.SetStartIndex(41);
    }
    ExpectRoundTrip(writer, images, masks, setting.version == zef::kVersion3 ? 41 : 0);
  }
}

TEST(ReaderRoundTrip, LongRunsAndFullPalettes) {
  // Lines wider than a run, and all 256 colours of a palette in use.
  std::vector<cv::Mat> images = {FlatImage(1000, 3, {0x12, 0x34, 0x56}), ImageWithColours(256)};
  zef::ZefImgWriter writer;
  writer.SetVersion(zef::kVersion3);
  writer.setAlpha(0);
  ExpectRoundTrip(writer, images, {}, 0);
}

TEST(ReaderRoundTrip, ColourWordsWithTheAlphaAtTheLowEnd) {
  std::mt19937 random(7);
  zef::ZefImgWriter writer;
  writer.SetAlphaPosition(zef::AlphaPosition::kLow);
  ExpectRoundTrip(writer, {RandomImage(random, 37, 5, 100)}, {RandomMask(random, 37, 5)}, 0);
}

}  // namespace

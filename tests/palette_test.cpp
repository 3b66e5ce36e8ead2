// Palettes in order of first appearance, their limits, index images and the
// palette block.
#include <gtest/gtest.h>

#include "TestImages.h"
#include "writer/ZefImgWriter.h"

using namespace zeftest;

namespace {

TEST(Palette, ColoursAreCutToFourBitsInOrderOfFirstAppearance) {
  zef::ZefImgWriter writer;
  // Rows first: the colour of row 1 comes after both colours of row 0.
  const cv::Mat image = MakeImage(2, 2, [](int x, int y) {
    if (y == 1) return cv::Vec3b(0xF0, 0xF0, 0xF0);
    return x == 0 ? cv::Vec3b(0x10, 0x20, 0x30) : cv::Vec3b(0x1F, 0x2F, 0x3F);
  });
  EXPECT_EQ(writer.BuildPalette(image), (zef::Palette{0x0321, 0x0FFF}));
  EXPECT_EQ(writer.BuildPalette(cv::Mat(0, 5, CV_8UC3)), zef::Palette{});
  EXPECT_EQ(writer.FindColor(0x0FFF, {0x0321, 0x0FFF, 0x0FFF}), 1);
  EXPECT_EQ(writer.FindColor(0x0123, {0x0321}), -1);
}

TEST(Palette, LimitsFollowTheAlphaBits) {
  struct Case {
    int alphaValues, limit;
    const char* text;
  } cases[] = {{0, 256, "max 256 without alpha"},
               {2, 128, "max 128 with 1 alpha bit"},
               {4, 64, "max 64 with 2 alpha bits"}};
  for (const Case& c : cases) {
    zef::ZefImgWriter writer;
    writer.SetVersion(3);
    writer.setAlpha(c.alphaValues);
    const cv::Mat fits = ImageWithColours(c.limit);
    const auto index = writer.CreateIndexImage(fits, *writer.BuildPalette(fits), 0);
    ASSERT_TRUE(index.has_value());
    EXPECT_EQ(index->at<uint8_t>(0, c.limit - 1), c.limit - 1);

    const cv::Mat tooMany = ImageWithColours(c.limit + 1);
    EXPECT_FALSE(writer.CreateIndexImage(tooMany, *writer.BuildPalette(tooMany), 3));
    EXPECT_EQ(writer.GetError(), "error: palette too big (palette entries:" +
                                     std::to_string(c.limit + 1) + " (" + c.text + "), image 3)");
  }
}

TEST(Palette, IndexImageNeedsEveryColourInTheFirst256Entries) {
  zef::ZefImgWriter writer;  // version 2: four alpha bits, no palette limit
  const cv::Mat image = FlatImage(2, 2, {0x10, 0x20, 0x30});
  EXPECT_FALSE(writer.CreateIndexImage(image, {0x0FFF}, 4));
  EXPECT_EQ(writer.GetError(), "error: color not in palette (image 4, paletteColor:65535)");

  zef::Palette big(257);
  for (int i = 0; i < 257; ++i) big[size_t(i)] = uint16_t(0x0400 + i);
  big.back() = 0x0321;
  EXPECT_FALSE(writer.CreateIndexImage(image, big, 0));
  EXPECT_EQ(writer.GetError(), "error: color not in palette (image 0, paletteColor:256)");

  // A palette that is not the image's own serves while it holds every colour;
  // a duplicate entry never wins over the first.
  const auto index = writer.CreateIndexImage(image, {0x0FFF, 0x0321, 0x0321}, 0);
  ASSERT_TRUE(index.has_value());
  EXPECT_EQ(cv::countNonZero(*index == 1), 4);
}

TEST(Palette, CreatePalettesAndIndexImagesRefuseBadWorkingLists) {
  zef::ZefImgWriter writer;
  writer.SetVersion(3);
  const std::vector<cv::Mat> images = {FlatImage(2, 1, {0, 0, 0}), FlatImage(1, 1, {255, 0, 0})};
  std::vector<zef::Palette> palettes{{1}};
  std::vector<int32_t> mapping;
  EXPECT_FALSE(writer.CreatePalettes(images, &palettes, nullptr));
  EXPECT_EQ(writer.GetError(), "error: PaletteMapping not correct");
  EXPECT_FALSE(writer.CreatePalettes(images, &palettes, &mapping));
  EXPECT_EQ(writer.GetError(), "error: Palettes not correct");
  EXPECT_EQ(palettes.size(), 1u);
  EXPECT_TRUE(mapping.empty());

  palettes.clear();
  ASSERT_TRUE(writer.CreatePalettes(images, &palettes, &mapping));
  EXPECT_EQ(mapping, (std::vector<int32_t>{0, 1}));
  EXPECT_EQ(palettes, (std::vector<zef::Palette>{{0x000}, {0x00F}}));

  std::vector<cv::Mat> indexImages;
  const std::vector<int32_t> shortMapping{0};
  EXPECT_FALSE(writer.CreateIndexImages(images, &palettes, &shortMapping, &indexImages));
  EXPECT_EQ(writer.GetError(), "error: PaletteMapping not correct");
  const std::vector<zef::Palette> none;
  EXPECT_FALSE(writer.CreateIndexImages(images, &none, &mapping, &indexImages));
  EXPECT_EQ(writer.GetError(), "error: Palettes not correct");
  for (int32_t bad : {-1, 2}) {
    const std::vector<int32_t> badMapping{0, bad};
    EXPECT_FALSE(writer.CreateIndexImages(images, &palettes, &badMapping, &indexImages));
    EXPECT_EQ(writer.GetError(),
              "error: entry of PaletteMapping greater than Palettes->size() (or < 0)");
  }
}

TEST(Palette, AFailedIndexImageEmptiesTheList) {
  zef::ZefImgWriter writer;
  writer.SetVersion(3);
  const std::vector<cv::Mat> images = {ImageWithColours(3), ImageWithColours(3),
                                       ImageWithColours(65)};
  std::vector<zef::Palette> palettes;
  std::vector<int32_t> mapping;
  ASSERT_TRUE(writer.CreatePalettes(images, &palettes, &mapping));
  std::vector<cv::Mat> indexImages;
  EXPECT_FALSE(writer.CreateIndexImages(images, &palettes, &mapping, &indexImages));
  EXPECT_TRUE(indexImages.empty());
  EXPECT_EQ(writer.GetError(),
            "error: palette too big (palette entries:65 (max 64 with 2 alpha bits), image 2)");
}

TEST(Palette, BlockBytesAndOffsets) {
  TempDir dir;
  zef::ZefImgWriter writer;
  {
    zef::OutputFile out;
    ASSERT_TRUE(out.Open(dir / "block"));
    out.WriteBytes("xyz", 3);  // the block need not start at 0
    writer.WritePalettes(out, {{0x0321, 0x0FFF}});
    ASSERT_TRUE(out.Close());
  }
  EXPECT_EQ(ReadFile(dir / "block"),
            (Bytes{'x', 'y', 'z', 0xFA, 0xFA, 1, 0, 0, 0, 0, 0, 2, 0, 0, 0, 19, 0, 0, 0, 0xFA, 0xBE,
                   0x21, 0x03, 0xFF, 0x0F}));

  {
    zef::OutputFile out;
    ASSERT_TRUE(out.Open(dir / "two"));
    writer.WritePalettes(out, {{1, 2, 3}, {4}});
    ASSERT_TRUE(out.Close());
  }
  const Bytes two = ReadFile(dir / "two");
  ASSERT_EQ(two.size(), 2 + 4 + 2 * 10 + 8 + 4u);
  EXPECT_EQ(U32At(two, 12), 26u);
  EXPECT_EQ(U32At(two, 22), 34u);
  EXPECT_EQ(U16At(two, 16), 1);  // paletteNumber of the second record
  EXPECT_EQ(two[26], 0xFA);
  EXPECT_EQ(two[27], 0xBE);
  EXPECT_EQ(two[34], 0xFA);
  EXPECT_EQ(two[35], 0xBE);
}

}  // namespace

namespace {

TEST(Palette, MembersRefuseImagesOfAnotherLayout) {
  zef::ZefImgWriter writer;
  const cv::Mat gray(4, 4, CV_8UC1, cv::Scalar(1));
  EXPECT_FALSE(writer.BuildPalette(gray));
  EXPECT_EQ(writer.GetError(), "BuildPalette: image must have 8-bit channels and 3 channels");
  EXPECT_FALSE(writer.CreateIndexImage(gray, {0}, 2));
  EXPECT_EQ(writer.GetError(), "img 2: wrong cvImage (depth/nChannels)");
}

}  // namespace

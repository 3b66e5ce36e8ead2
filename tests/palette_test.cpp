// Palettes in order of first appearance, their limits and the palette block.
#include <gtest/gtest.h>

#include "CoreArchives.h"
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
}

TEST(Palette, LimitsFollowTheAlphaBits) {
  struct Case {
    int alphaValues, limit;
    const char* text;
  } cases[] = {{0, 256, "max 256 without alpha"},
               {2, 128, "max 128 with 1 alpha bit"},
               {4, 64, "max 64 with 2 alpha bits"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.limit);
    // A full palette: the last pixel is coded with the highest index.
    const Bytes data = ImageData(Encoded({ImageWithColours(c.limit)}, {}, OptionsOf(3, c.alphaValues)));
    EXPECT_EQ(data[data.size() - 2], c.limit - 1);

    const std::vector<cv::Mat> images = {ImageWithColours(3), ImageWithColours(3), ImageWithColours(3),
                                         ImageWithColours(c.limit + 1)};
    const zef::EncodeResult tooMany = zef::EncodeMats(images, {}, OptionsOf(3, c.alphaValues));
    EXPECT_EQ(tooMany.error, zef::Error::kPaletteTooBig);
    EXPECT_EQ(tooMany.message, "error: palette too big (palette entries:" + std::to_string(c.limit + 1) +
                                   " (" + c.text + "), image 3)");
    EXPECT_TRUE(tooMany.bytes.empty());
  }
}

TEST(Palette, ATooBigPaletteIsReportedWithAllItsColours) {
  zef::ZefImgWriter writer;
  writer.SetVersion(3);
  TempDir dir;
  EXPECT_FALSE(writer.Write(dir / "a.zef", {ImageWithColours(3), ImageWithColours(3), ImageWithColours(1000)}, {}));
  EXPECT_EQ(writer.GetError(),
            "error: palette too big (palette entries:1000 (max 64 with 2 alpha bits), image 2)");
}

TEST(Palette, BlockBytesAndOffsets) {
  // One palette holding 0x0321 and 0x0FFF, behind a header of 23 bytes and
  // a table of 2 + 16.
  const Bytes one = Encoded({MakeImage(2, 1, [](int x, int) {
                              return x == 0 ? cv::Vec3b(0x10, 0x20, 0x30) : cv::Vec3b(0xF0, 0xF0, 0xF0);
                            })},
                            {}, OptionsOf(3, 0));
  EXPECT_EQ(Bytes(one.begin() + 41, one.begin() + 41 + 22),
            (Bytes{0xFA, 0xFA, 1, 0, 0, 0, 0, 0, 2, 0, 0, 0, 57, 0, 0, 0, 0xFA, 0xBE, 0x21, 0x03, 0xFF, 0x0F}));

  // Palettes of 3 and 1 entries behind a header of 23 bytes and a table of 2 + 2 * 16.
  const Bytes two = Encoded({ImageWithColours(3), ImageWithColours(1)}, {}, OptionsOf(3, 0));
  const size_t block = 23 + 2 + 2 * 16;
  EXPECT_EQ(U32At(two, block + 2), 2u);
  EXPECT_EQ(U16At(two, block + 6 + 10), 1);  // paletteNumber of the second record
  EXPECT_EQ(U32At(two, block + 6 + 2), 3u);
  EXPECT_EQ(U32At(two, block + 6 + 6), block + 26);
  EXPECT_EQ(U32At(two, block + 6 + 10 + 6), block + 26 + 8);
  EXPECT_EQ(Bytes(two.begin() + long(block) + 26, two.begin() + long(block) + 26 + 12),
            (Bytes{0xFA, 0xBE, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00, 0xFA, 0xBE, 0x00, 0x00}));
}

TEST(Palette, MembersRefuseImagesOfAnotherLayout) {
  zef::ZefImgWriter writer;
  const cv::Mat gray(4, 4, CV_8UC1, cv::Scalar(1));
  EXPECT_FALSE(writer.BuildPalette(gray));
  EXPECT_EQ(writer.GetError(), "BuildPalette: image must have 8-bit channels and 3 channels");
}

}  // namespace

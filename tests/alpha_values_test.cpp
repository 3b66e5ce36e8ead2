// Alpha codes from mask bytes, and the packing of pixel codes and colour words.
#include <gtest/gtest.h>

#include "writer/ZefImgWriter.h"

namespace {

// A writer that stores its alpha bits at the low end of a value.
class LowAlphaWriter : public zef::ZefImgWriter {
 public:
  void PutAlphaLow() { header_.alphaPosition = zef::kAlphaPositionLow; }
};

TEST(AlphaValues, GradedCodesAreTheTopBitsOfTheMask) {
  zef::ZefImgWriter writer;
  writer.SetVersion(3);
  writer.setAlpha(4);
  const uint8_t bytes[] = {0, 63, 64, 127, 128, 191, 192, 255};
  const uint8_t twoBits[] = {0, 0, 1, 1, 2, 2, 3, 3};
  for (size_t i = 0; i < std::size(bytes); ++i) {
    EXPECT_EQ(writer.PixelCodeAlpha(bytes[i]), twoBits[i]) << int(bytes[i]);
  }
  writer.setAlpha(2);
  EXPECT_EQ(writer.PixelCodeAlpha(127), 0);
  EXPECT_EQ(writer.PixelCodeAlpha(128), 1);
  EXPECT_EQ(writer.ColourWordAlpha(239), 14);
  EXPECT_EQ(writer.ColourWordAlpha(240), 15);
}

TEST(AlphaValues, TwoLevelNibblesSwitchAt64) {
  zef::ZefImgWriter writer;  // version 2: two-level alpha
  EXPECT_EQ(writer.ColourWordAlpha(63), 0);
  EXPECT_EQ(writer.ColourWordAlpha(64), 15);
  EXPECT_EQ(writer.ColourWordAlpha(255), 15);
}

TEST(AlphaValues, PixelCodesPackIndexAndAlpha) {
  LowAlphaWriter writer;
  writer.SetVersion(3);
  uint8_t code = 0;
  ASSERT_TRUE(writer.PackPixelCode(5, 3, &code));
  EXPECT_EQ(code, 0xC5);
  writer.setAlpha(2);
  ASSERT_TRUE(writer.PackPixelCode(70, 1, &code));
  EXPECT_EQ(code, 0xC6);
  writer.PutAlphaLow();
  ASSERT_TRUE(writer.PackPixelCode(70, 1, &code));
  EXPECT_EQ(code, 141);  // 70 * 2 + 1
  writer.setAlpha(0);
  EXPECT_FALSE(writer.PackPixelCode(5, 0, &code));
}

TEST(AlphaValues, ColourWordsOfVersion2) {
  LowAlphaWriter writer;
  const uint8_t pixel[3] = {0x10, 0x20, 0x30};  // blue, green, red
  const uint16_t colour = writer.PaletteColour(pixel);
  EXPECT_EQ(colour, 0x0321);
  EXPECT_EQ(writer.PackColourWord(colour, writer.ColourWordAlpha(64)), 0xF321);
  EXPECT_EQ(writer.PackColourWord(colour, writer.ColourWordAlpha(255)), 0xF321);
  EXPECT_EQ(writer.PackColourWord(colour, writer.ColourWordAlpha(63)), 0x0321);
  writer.PutAlphaLow();
  EXPECT_EQ(writer.PackColourWord(colour, writer.ColourWordAlpha(255)), 0x321F);
}

}  // namespace

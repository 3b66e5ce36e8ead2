// Write codes each image in one pass over stretches of equal pixels. Its
// palette block and image data must be exactly what the separate passes
// (BuildPalette, CreateIndexImage, WritePaletteImage) give, for sprites,
// for noise that falls back to an index image, and with every alpha setting.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "TestImages.h"
#include "archive/OutputFile.h"
#include "writer/ZefImgWriter.h"

namespace {

using zeftest::Bytes;

// Sprite-like rows: long stretches, some bytes differing only below the
// colour precision, and a few single pixels.
cv::Mat StretchyImage(std::mt19937& random, int width, int height, int colours) {
  std::vector<cv::Vec3b> palette;
  for (int i = 0; i < colours; ++i) {
    palette.emplace_back(uint8_t(i * 16 + 8), uint8_t((i / 16) * 16 + 8), uint8_t(random() & 0xF0));
  }
  cv::Mat image(height, width, CV_8UC3);
  for (int y = 0; y < height; ++y) {
    cv::Vec3b colour = palette[random() % palette.size()];
    for (int x = 0; x < width; ++x) {
      if (random() % 60 == 0) colour = palette[random() % palette.size()];
      cv::Vec3b pixel = colour;
      if (random() % 9 == 0) pixel[random() % 3] ^= uint8_t(random() % 16);
      image.at<cv::Vec3b>(y, x) = pixel;
    }
  }
  return image;
}

cv::Mat StretchyMask(std::mt19937& random, int width, int height) {
  cv::Mat mask(height, width, CV_8UC1);
  for (int y = 0; y < height; ++y) {
    uint8_t value = uint8_t(random());
    for (int x = 0; x < width; ++x) {
      if (random() % 45 == 0) value = uint8_t(random());
      mask.at<uint8_t>(y, x) = value;
    }
  }
  return mask;
}

// What the separate passes write for one image: its palette data and its
// image data.
struct Expected {
  Bytes palette;
  Bytes image;
};

Expected SeparatePasses(zef::ZefImgWriter& writer, const cv::Mat& image, const cv::Mat& mask,
                        const zeftest::TempDir& dir) {
  const zef::Palette palette = *writer.BuildPalette(image);
  const cv::Mat indexImage = *writer.CreateIndexImage(image, palette, 0);
  zef::OutputFile out;
  EXPECT_TRUE(out.Open(dir / "parts"));
  writer.WritePaletteData(out, palette);
  const uint64_t imageStart = out.Tell();
  EXPECT_TRUE(writer.WritePaletteImage(indexImage, mask, out));
  EXPECT_TRUE(out.Close());
  const Bytes parts = zeftest::ReadFile(dir / "parts");
  return {Bytes(parts.begin(), parts.begin() + long(imageStart)),
          Bytes(parts.begin() + long(imageStart), parts.end())};
}

void ExpectSamePartsAsSeparatePasses(int alphaValues, const cv::Mat& image, const cv::Mat& mask) {
  zeftest::TempDir dir;
  zef::ZefImgWriter writer;
  writer.SetVersion(3);
  writer.setAlpha(alphaValues);
  const std::vector<cv::Mat> masks = mask.empty() ? std::vector<cv::Mat>{} : std::vector<cv::Mat>{mask};
  ASSERT_TRUE(writer.Write(dir / "one.zef", {image}, masks)) << writer.GetError();
  const Bytes archive = zeftest::ReadFile(dir / "one.zef");
  // One image: header 23, table 2 + 16, palette specifications 2 + 4 + 10.
  const uint32_t paletteData = zeftest::U32At(archive, 23 + 18 + 6 + 6);
  const uint32_t imageData = zeftest::U32At(archive, 23 + 2 + 12);
  const Expected expected = SeparatePasses(writer, image, mask, dir);
  EXPECT_EQ(Bytes(archive.begin() + paletteData, archive.begin() + imageData), expected.palette);
  EXPECT_EQ(Bytes(archive.begin() + imageData + 2, archive.end()), expected.image);
}

TEST(PreparedWrite, SpritesCodeAsTheSeparatePassesDo) {
  std::mt19937 random(11);
  for (int alphaValues : {0, 2, 4}) {
    for (int width : {1, 7, 33, 300, 700}) {
      const int colours = alphaValues == 0 ? 200 : alphaValues == 2 ? 100 : 60;
      const cv::Mat image = StretchyImage(random, width, 9, colours);
      ExpectSamePartsAsSeparatePasses(alphaValues, image, {});
      if (alphaValues != 0) ExpectSamePartsAsSeparatePasses(alphaValues, image, StretchyMask(random, width, 9));
    }
  }
}

TEST(PreparedWrite, NoiseKeepsAnIndexImageAndCodesTheSame) {
  // Nearly every pixel differs from its neighbour: the coded runs would
  // take more room than an index image.
  std::mt19937 random(12);
  const cv::Mat image = zeftest::RandomImage(random, 120, 20, 60);
  ExpectSamePartsAsSeparatePasses(4, image, zeftest::RandomMask(random, 120, 20));
  ExpectSamePartsAsSeparatePasses(0, image, {});
}

TEST(PreparedWrite, ViewsIntoLargerImagesCodeOnlyTheirOwnPixels) {
  std::mt19937 random(13);
  const cv::Mat whole = StretchyImage(random, 90, 30, 40);
  const cv::Mat view = whole(cv::Rect(5, 3, 50, 20));
  const cv::Mat mask = StretchyMask(random, 90, 30)(cv::Rect(5, 3, 50, 20));
  ExpectSamePartsAsSeparatePasses(4, view, mask);
}

}  // namespace

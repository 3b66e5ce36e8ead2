// The encoder codes each image in one pass over stretches of equal pixels,
// keeping the result or, for noise, coding it again while writing. Its
// palette block and image data must be exactly what a literal pixel by
// pixel coding gives, for sprites, for noise, and with every alpha setting.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "TestImages.h"
#include "CoreArchives.h"
#include "DeviceArchives.h"

namespace {

using zeftest::Bytes;
using zeftest::PutU16;
using zeftest::PutU32;

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

// The palette data and image data of one image, coded pixel by pixel as
// the format describes it: a linear palette search per pixel, then runs of
// equal pixel codes, cut at 255 and never across a line end.
struct Expected {
  Bytes palette;
  Bytes image;
};

Expected LiteralCoding(const cv::Mat& image, const cv::Mat& mask, int alphaValues) {
  std::vector<uint16_t> palette;
  std::vector<std::vector<uint8_t>> codes(size_t(image.rows));
  const int alphaBits = alphaValues == 4 ? 2 : alphaValues == 2 ? 1 : 0;
  for (int y = 0; y < image.rows; ++y) {
    for (int x = 0; x < image.cols; ++x) {
      const cv::Vec3b pixel = image.at<cv::Vec3b>(y, x);
      const uint16_t colour = uint16_t((pixel[2] >> 4) << 8 | (pixel[1] >> 4) << 4 | pixel[0] >> 4);
      size_t index = 0;
      while (index < palette.size() && palette[index] != colour) ++index;
      if (index == palette.size()) palette.push_back(colour);
      uint8_t code = uint8_t(index);
      if (!mask.empty()) {
        const int alpha = mask.at<uint8_t>(y, x) >> (8 - alphaBits);
        code = uint8_t(alpha << (8 - alphaBits) | index);
      }
      codes[size_t(y)].push_back(code);
    }
  }
  Expected expected;
  expected.palette = {0xFA, 0xBE};
  for (uint16_t colour : palette) PutU16(expected.palette, colour);
  Bytes lines;
  uint32_t imageRuns = 0;
  for (const std::vector<uint8_t>& line : codes) {
    Bytes runs;
    for (size_t x = 0; x < line.size();) {
      size_t end = x + 1;
      while (end < line.size() && end - x < 255 && line[end] == line[x]) ++end;
      runs.push_back(line[x]);
      runs.push_back(uint8_t(end - x));
      x = end;
    }
    PutU16(lines, uint16_t(runs.size() / 2));
    lines.insert(lines.end(), runs.begin(), runs.end());
    imageRuns += uint32_t(runs.size() / 2);
  }
  PutU32(expected.image, imageRuns);
  expected.image.insert(expected.image.end(), lines.begin(), lines.end());
  return expected;
}

void ExpectSameAsLiteralCoding(int alphaValues, const cv::Mat& image, const cv::Mat& mask) {
  const std::vector<cv::Mat> masks = mask.empty() ? std::vector<cv::Mat>{} : std::vector<cv::Mat>{mask};
  const Bytes archive = zeftest::Encoded({image}, masks, zeftest::OptionsOf(3, alphaValues));
  ASSERT_FALSE(archive.empty());
  // One image: header 23, table 2 + 16, palette specifications 2 + 4 + 10.
  const uint32_t paletteData = zeftest::U32At(archive, 23 + 18 + 6 + 6);
  const uint32_t imageData = zeftest::U32At(archive, 23 + 2 + 12);
  const Expected expected = LiteralCoding(image, mask, alphaValues);
  EXPECT_EQ(Bytes(archive.begin() + paletteData, archive.begin() + imageData), expected.palette);
  EXPECT_EQ(Bytes(archive.begin() + imageData + 2, archive.end()), expected.image);
}

TEST(PreparedWrite, SpritesCodeAsALiteralCodingDoes) {
  std::mt19937 random(11);
  for (int alphaValues : {0, 2, 4}) {
    for (int width : {1, 7, 33, 300, 700}) {
      const int colours = alphaValues == 0 ? 200 : alphaValues == 2 ? 100 : 60;
      const cv::Mat image = StretchyImage(random, width, 9, colours);
      ExpectSameAsLiteralCoding(alphaValues, image, {});
      if (alphaValues != 0) ExpectSameAsLiteralCoding(alphaValues, image, StretchyMask(random, width, 9));
    }
  }
}

TEST(PreparedWrite, NoiseIsCodedAgainWhileWritingAndCodesTheSame) {
  // Nearly every pixel differs from its neighbour: the coded runs would
  // take more room than an index image.
  std::mt19937 random(12);
  const cv::Mat image = zeftest::RandomImage(random, 120, 20, 60);
  ExpectSameAsLiteralCoding(4, image, zeftest::RandomMask(random, 120, 20));
  ExpectSameAsLiteralCoding(0, image, {});
}

TEST(PreparedWrite, ViewsIntoLargerImagesCodeOnlyTheirOwnPixels) {
  std::mt19937 random(13);
  const cv::Mat whole = StretchyImage(random, 90, 30, 40);
  const cv::Mat view = whole(cv::Rect(5, 3, 50, 20));
  const cv::Mat mask = StretchyMask(random, 90, 30)(cv::Rect(5, 3, 50, 20));
  ExpectSameAsLiteralCoding(4, view, mask);
}

}  // namespace

// What Write refuses before it touches the output file, and in which order.
#include <gtest/gtest.h>

#include "TestImages.h"
#include "writer/ZefImgWriter.h"

using namespace zeftest;

namespace {

cv::Mat Image(int width, int height) { return FlatImage(width, height, {16, 32, 48}); }

TEST(InputChecks, EachTestAndItsMessage) {
  zef::ZefImgWriter writer;
  const cv::Mat image = Image(4, 3);
  struct Case {
    cv::Mat image, mask;
    const char* message;
  } cases[] = {
      {image, FlatMask(3, 3, 255), "img 7: mask and image must have the same width"},
      {image, FlatMask(4, 2, 255), "img 7: mask and image must have the same height"},
      {cv::Mat(3, 4, CV_8UC1, cv::Scalar(0)), {}, "img 7: wrong cvImage (depth/nChannels)"},
      {cv::Mat(3, 4, CV_16UC3, cv::Scalar(0)), {}, "img 7: wrong cvImage (depth/nChannels)"},
      {image, Image(4, 3), "img 7: wrong cvMask (depth/nChannels)"},
      // size is tested before format
      {image, Image(3, 3), "img 7: mask and image must have the same width"},
      // format is tested before the width limit
      {cv::Mat(1, 65535, CV_8UC1, cv::Scalar(0)), {}, "img 7: wrong cvImage (depth/nChannels)"},
      {Image(65535, 1), {}, "img 7: maximum width of an image is 65534"},
      {cv::Mat(), {}, "img 7: wrong cvImage (depth/nChannels)"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(writer.CheckImage(c.image, c.mask, 7));
    EXPECT_EQ(writer.GetError(), c.message);
  }
  EXPECT_TRUE(writer.CheckImage(Image(65534, 1), {}, 0));
  EXPECT_TRUE(writer.CheckImage(image, FlatMask(4, 3, 0), 0));
  EXPECT_FALSE(writer.HasError());
}

TEST(InputChecks, ListsAreTestedInOrderAndStopAtTheFirstFault) {
  zef::ZefImgWriter writer;
  const std::vector<cv::Mat> images = {Image(2, 2), Image(2, 2)};
  EXPECT_FALSE(writer.CheckImages(images, {FlatMask(2, 2, 0)}));
  EXPECT_EQ(writer.GetError(), "nr of masks != nr of bmps..");

  const cv::Mat oneChannel(2, 2, CV_8UC1, cv::Scalar(0));
  EXPECT_FALSE(writer.CheckImages({Image(2, 2), Image(2, 2), oneChannel, Image(65535, 1)}, {}));
  EXPECT_EQ(writer.GetError(), "img 2: wrong cvImage (depth/nChannels)");

  // An empty mask list skips every mask test.
  EXPECT_TRUE(writer.CheckImages({Image(2, 2), Image(5, 1)}, {}));
  EXPECT_TRUE(writer.CheckImages(images, {FlatMask(2, 2, 0), FlatMask(2, 2, 9)}));
}

TEST(InputChecks, RefusalsLeaveAnExistingFileUntouched) {
  TempDir dir;
  const auto path = dir / "kept.zef";
  WriteFile(path, {1, 2, 3});
  zef::ZefImgWriter writer;
  EXPECT_FALSE(writer.Write(path, {}, {}));
  EXPECT_EQ(writer.GetError(), "no images");
  EXPECT_FALSE(writer.Write(path, {Image(2, 2)}, {FlatMask(2, 2, 0), FlatMask(2, 2, 0)}));
  EXPECT_EQ(writer.GetError(), "nr of masks != nr of bmps..");
  writer.SetVersion(3);
  EXPECT_FALSE(writer.Write(path, {ImageWithColours(65)}, {FlatMask(65, 1, 255)}));
  EXPECT_EQ(writer.GetError(),
            "error: palette too big (palette entries:65 (max 64 with 2 alpha bits), image 0)");
  EXPECT_EQ(ReadFile(path), (Bytes{1, 2, 3}));
  EXPECT_EQ(writer.Header().alphaMode, 1);
}

}  // namespace

// Loading images and masks: the working layouts, the summed file sizes, the
// colour limits and where loading stops.
#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <random>

#include "TestImages.h"
#include "frontend/LoadImages.h"
#include "frontend/RunState.h"

namespace {

using zef::frontend::LoadImages;
using zef::frontend::RunState;

class LoadImagesTest : public ::testing::Test {
 protected:
  std::string Save(const std::string& name, const cv::Mat& picture) {
    const std::string path = (dir_ / name).string();
    cv::imwrite(path, picture);
    return path;
  }
  bool Load() {
    testing::internal::CaptureStdout();
    const bool ok = LoadImages(run_);
    output_ = testing::internal::GetCapturedStdout();
    return ok;
  }

  zeftest::TempDir dir_;
  RunState run_;
  std::string output_;
};

TEST_F(LoadImagesTest, MasksBecomeOneChannelWithTheirGreyValuesAndSizesAddUp) {
  cv::Mat mask = zeftest::FlatMask(6, 4, 0);
  mask.at<uint8_t>(1, 2) = 200;
  run_.imageFileNames = {Save("a.png", zeftest::FlatImage(6, 4, {10, 20, 30})),
                         Save("b.png", zeftest::FlatImage(3, 3, {0, 0, 255}))};
  run_.maskFileNames = {Save("a_mask.png", mask), Save("b_mask.png", zeftest::FlatMask(3, 3, 255))};

  ASSERT_TRUE(Load()) << output_;
  ASSERT_EQ(run_.sourceImages.size(), 2u);
  ASSERT_EQ(run_.sourceMasks.size(), 2u);
  EXPECT_EQ(run_.sourceImages[1].type(), CV_8UC3);
  EXPECT_EQ(run_.sourceMasks[0].type(), CV_8UC1);
  EXPECT_EQ(cv::countNonZero(run_.sourceMasks[0] != mask), 0);
  uint64_t onDisk = 0;
  for (const auto& names : {run_.imageFileNames, run_.maskFileNames}) {
    for (const std::string& name : names) onDisk += std::filesystem::file_size(name);
  }
  EXPECT_EQ(run_.totalSourceBytes, onDisk);
}

TEST_F(LoadImagesTest, ColourLimitWithMasksIsSixtyFourWhateverTheAlphaValues) {
  run_.alphaValues = 2;
  run_.imageFileNames = {Save("ok.png", zeftest::ImageWithColours(64)),
                         Save("many.png", zeftest::ImageWithColours(65))};
  EXPECT_FALSE(Load());
  EXPECT_EQ(run_.sourceImages.size(), 1u);  // the image before the fault stays
  EXPECT_NE(output_.find("Too many Colors (65). Only 64 different"), std::string::npos);
}

TEST_F(LoadImagesTest, WithoutMasksTwoHundredFiftySixColoursPass) {
  run_.useMask = false;
  run_.imageFileNames = {Save("ok.png", zeftest::ImageWithColours(256))};
  EXPECT_TRUE(Load()) << output_;
  EXPECT_EQ(output_.find("Loading mask files..."), std::string::npos);
}

TEST_F(LoadImagesTest, FileThatIsNoImageCannotBeLoaded) {
  zeftest::WriteFile(dir_ / "text.png", {'n', 'o', 't', ' ', 'p', 'n', 'g'});
  run_.imageFileNames = {(dir_ / "text.png").string(), Save("later.png", zeftest::FlatImage(2, 2, {}))};
  EXPECT_FALSE(Load());
  EXPECT_TRUE(run_.sourceImages.empty());
  EXPECT_EQ(output_, "Loading image files...\nLoading " + run_.imageFileNames[0] +
                         "\nCould not load image " + run_.imageFileNames[0] + "...\n");
}

// Colours count as the archive keeps them, by their top four bits per
// channel: noise in the low bits adds none, and the count in the message
// is the writer's palette size.
TEST_F(LoadImagesTest, ColourCountIsThatOfTheWritersPalette) {
  std::mt19937 random(11);
  for (int colours : {1, 63, 64, 65, 300}) {
    SCOPED_TRACE(colours);
    cv::Mat image = zeftest::ImageWithColours(colours);
    cv::Mat noisy;
    cv::repeat(image, 3, 2, noisy);
    noisy.forEach<cv::Vec3b>([&random](cv::Vec3b& pixel, const int*) {
      for (int c = 0; c < 3; ++c) pixel[c] = uint8_t(pixel[c] | (random() & 15));
    });
    const size_t palette = run_.writer.BuildPalette(noisy)->size();
    ASSERT_EQ(palette, size_t(colours));
    run_.ReleaseImages();
    run_.imageFileNames = {Save("noisy.png", noisy)};
    EXPECT_EQ(Load(), colours <= 64) << output_;
    if (colours > 64) {
      EXPECT_NE(output_.find("Too many Colors (" + std::to_string(palette) + ")"), std::string::npos)
          << output_;
    }
  }
}

// A mask is taken as the colour load and grey conversion of old give it,
// however it is stored; greyscale PNG files take a shorter way there.
TEST_F(LoadImagesTest, MasksHaveTheGreyOfTheirColourLoadInEveryStorage) {
  cv::Mat grey(5, 7, CV_8UC1);
  for (int y = 0; y < grey.rows; ++y) {
    for (int x = 0; x < grey.cols; ++x) grey.at<uint8_t>(y, x) = uint8_t(x * 37 + y * 11);
  }
  cv::Mat wide;
  grey.convertTo(wide, CV_16U, 257.0, 3.0);
  cv::Mat colour(5, 7, CV_8UC3);
  colour.forEach<cv::Vec3b>([](cv::Vec3b& pixel, const int* at) {
    pixel = cv::Vec3b(uint8_t(at[1] * 40), uint8_t(at[0] * 60), uint8_t(255 - at[1] * 30));
  });
  const struct {
    const char* name;
    cv::Mat mask;
    std::vector<int> flags;
  } cases[] = {
      {"grey.png", grey, {}},
      {"grey16.png", wide, {}},
      {"bilevel.png", grey > 100, {cv::IMWRITE_PNG_BILEVEL, 1}},
      {"colour.png", colour, {}},
      {"grey.jpg", grey, {}},
      {"grey.bmp", grey, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = (dir_ / c.name).string();
    ASSERT_TRUE(cv::imwrite(path, c.mask, c.flags));
    cv::Mat expected;
    cv::cvtColor(cv::imread(path, cv::IMREAD_COLOR), expected, cv::COLOR_BGR2GRAY);
    run_.ReleaseImages();
    run_.imageFileNames = {Save("image.png", zeftest::FlatImage(7, 5, {1, 2, 3}))};
    run_.maskFileNames = {path};
    ASSERT_TRUE(Load()) << output_;
    EXPECT_NE(output_.find("converting Mask. From 8 bpp and 3 channels to 8 bpp and 1 channel\n"),
              std::string::npos);
    ASSERT_EQ(run_.sourceMasks.size(), 1u);
    ASSERT_EQ(run_.sourceMasks[0].type(), CV_8UC1);
    EXPECT_EQ(cv::countNonZero(run_.sourceMasks[0] != expected), 0);
  }
}

}  // namespace

// Composite PSNR: which pixels count, the compositing over black and white,
// pooling over a set, and images it cannot compare.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "quantize/CompositePsnr.h"

namespace {

cv::Mat Bgra(int width, int height, cv::Scalar colour) { return cv::Mat(height, width, CV_8UC4, colour); }

TEST(CompositePsnr, CountsVisiblePixelsOnBothBackgrounds) {
  struct Case {
    const char* what;
    cv::Scalar source, decoded;
    double squaredError;  // per pixel, all three channels, both backgrounds
    uint64_t samples;     // per pixel
  };
  const Case cases[] = {
      {"identical opaque", {10, 20, 30, 255}, {10, 20, 30, 255}, 0, 6},
      // Opaque: the background never shows, so the error is the channel
      // difference, counted once per background.
      {"opaque blue off by 4", {10, 20, 30, 255}, {14, 20, 30, 255}, 2 * 16, 6},
      // Both invisible: nothing counts, whatever the colours.
      {"both invisible", {10, 20, 30, 0}, {200, 0, 0, 0}, 0, 0},
      // A pixel that vanishes: over black its colour is lost, over white
      // the white shows through instead.
      {"white vanishes", {255, 255, 255, 255}, {0, 0, 0, 0}, 3 * 255.0 * 255.0, 6},
      {"black vanishes", {0, 0, 0, 255}, {0, 0, 0, 0}, 3 * 255.0 * 255.0, 6},
      // Alpha 255 to 0 on a colour of 51: 51 over black, 255 - 204 over white.
      {"grey vanishes", {51, 51, 51, 255}, {0, 0, 0, 0}, 3 * (51.0 * 51 + 204.0 * 204), 6},
      // Visible only in the decoded image still counts.
      {"appears", {0, 0, 0, 0}, {255, 255, 255, 255}, 3 * 255.0 * 255.0, 6},
      // Same colour, alpha 170 against 128: over black 255*(170-128)/255,
      // over white white stays white.
      {"white alpha 170 shown at 128", {255, 255, 255, 170}, {255, 255, 255, 128}, 3 * 42.0 * 42, 6},
  };
  for (const Case& c : cases) {
    const zef::CompositeError error = zef::CompositeErrorOf(Bgra(3, 2, c.source), Bgra(3, 2, c.decoded));
    EXPECT_NEAR(error.squaredError, 6 * c.squaredError, 1e-6) << c.what;
    EXPECT_EQ(error.samples, 6 * c.samples) << c.what;
  }
}

TEST(CompositePsnr, PoolsErrorsAndSamplesOverASet) {
  zef::CompositeError set;
  EXPECT_TRUE(std::isinf(set.Psnr()));  // nothing measured: no error
  set.Add(zef::CompositeErrorOf(Bgra(4, 4, {0, 0, 0, 255}), Bgra(4, 4, {0, 0, 0, 255})));
  EXPECT_EQ(set.samples, 16u * 6);
  EXPECT_TRUE(std::isinf(set.Psnr()));
  // 16 pixels with every sample off by 16 pooled with 16 exact ones: mean 128.
  set.Add(zef::CompositeErrorOf(Bgra(4, 4, {16, 16, 16, 255}), Bgra(4, 4, {0, 0, 0, 255})));
  EXPECT_EQ(set.samples, 32u * 6);
  EXPECT_NEAR(set.Psnr(), 10 * std::log10(255.0 * 255.0 / 128.0), 1e-9);
}

TEST(CompositePsnr, ImagesItCannotCompareCountNothing) {
  const cv::Mat opaque = Bgra(2, 2, {1, 2, 3, 255});
  EXPECT_EQ(zef::CompositeErrorOf(opaque, Bgra(3, 2, {1, 2, 3, 255})).samples, 0u);
  EXPECT_EQ(zef::CompositeErrorOf(opaque, cv::Mat(2, 2, CV_8UC3, cv::Scalar(1, 2, 3))).samples, 0u);
  EXPECT_EQ(zef::CompositeErrorOf(cv::Mat(), cv::Mat()).samples, 0u);
}

}  // namespace

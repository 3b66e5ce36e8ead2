// Composite PSNR: which pixels count, the compositing over black and white,
// pooling over a set, and images it cannot compare.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include <opencv2/imgproc.hpp>

#include "quantize/CompositePsnr.h"

namespace {

cv::Mat Bgra(int width, int height, cv::Scalar colour) { return cv::Mat(height, width, CV_8UC4, colour); }

// The planar form of the measure on a BGRA image's planes.
zef::CompositeError PlanarErrorOf(const cv::Mat& source, const cv::Mat& decoded) {
  cv::Mat sourceBgr, sourceAlpha, decodedBgr, decodedAlpha;
  cv::cvtColor(source, sourceBgr, cv::COLOR_BGRA2BGR);
  cv::extractChannel(source, sourceAlpha, 3);
  cv::cvtColor(decoded, decodedBgr, cv::COLOR_BGRA2BGR);
  cv::extractChannel(decoded, decodedAlpha, 3);
  return zef::CompositeErrorOf(sourceBgr, sourceAlpha, decodedBgr, decodedAlpha);
}

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
    const zef::CompositeError planar = PlanarErrorOf(Bgra(3, 2, c.source), Bgra(3, 2, c.decoded));
    EXPECT_EQ(planar.squaredError, error.squaredError) << c.what;
    EXPECT_EQ(planar.samples, error.samples) << c.what;
  }
}

TEST(CompositePsnr, PlanesGiveTheSameErrorToTheLastBit) {
  // Every colour and alpha mixed, so that rounding in another order of
  // sums would show.
  cv::Mat source(9, 13, CV_8UC4), decoded(9, 13, CV_8UC4);
  for (int p = 0; p < int(source.total()); ++p) {
    source.at<cv::Vec4b>(p) = cv::Vec4b(uint8_t(p * 37), uint8_t(p * 91), uint8_t(p * 53), uint8_t(p * 29));
    decoded.at<cv::Vec4b>(p) = cv::Vec4b(uint8_t(p * 41), uint8_t(p * 89), uint8_t(p * 51), uint8_t(p * 31));
  }
  const zef::CompositeError whole = zef::CompositeErrorOf(source, decoded);
  ASSERT_GT(whole.samples, 0u);
  const zef::CompositeError planar = PlanarErrorOf(source, decoded);
  EXPECT_EQ(planar.squaredError, whole.squaredError);
  EXPECT_EQ(planar.samples, whole.samples);
  // The decoded pixels as a palette image: an entry per distinct pixel.
  std::vector<cv::Vec4b> entries;
  std::vector<uint8_t> indices;
  for (int p = 0; p < int(decoded.total()); ++p) {
    const cv::Vec4b pixel = decoded.at<cv::Vec4b>(p);
    const auto found = std::find(entries.begin(), entries.end(), pixel);
    indices.push_back(uint8_t(found - entries.begin()));
    if (found == entries.end()) entries.push_back(pixel);
  }
  cv::Mat bgr, alpha;
  cv::cvtColor(source, bgr, cv::COLOR_BGRA2BGR);
  cv::extractChannel(source, alpha, 3);
  const zef::CompositeError indexed = zef::CompositeErrorOfIndexed(bgr, alpha, entries, indices);
  EXPECT_EQ(indexed.squaredError, whole.squaredError);
  EXPECT_EQ(indexed.samples, whole.samples);
  // An empty alpha plane is opaque.
  cv::Mat opaqueSource = source.clone(), sourceBgr, decodedBgr, decodedAlpha;
  for (int p = 0; p < int(source.total()); ++p) opaqueSource.at<cv::Vec4b>(p)[3] = 255;
  cv::cvtColor(source, sourceBgr, cv::COLOR_BGRA2BGR);
  cv::cvtColor(decoded, decodedBgr, cv::COLOR_BGRA2BGR);
  cv::extractChannel(decoded, decodedAlpha, 3);
  const zef::CompositeError opaque = zef::CompositeErrorOf(sourceBgr, cv::Mat(), decodedBgr, decodedAlpha);
  EXPECT_EQ(opaque.squaredError, zef::CompositeErrorOf(opaqueSource, decoded).squaredError);
  EXPECT_EQ(opaque.samples, zef::CompositeErrorOf(opaqueSource, decoded).samples);
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
  const cv::Mat bgr(2, 2, CV_8UC3, cv::Scalar(1, 2, 3)), alpha(2, 2, CV_8UC1, cv::Scalar(255));
  EXPECT_EQ(zef::CompositeErrorOf(bgr, alpha, cv::Mat(2, 3, CV_8UC3), cv::Mat()).samples, 0u);
  EXPECT_EQ(zef::CompositeErrorOf(bgr, cv::Mat(2, 3, CV_8UC1), bgr, alpha).samples, 0u);
  EXPECT_EQ(zef::CompositeErrorOf(opaque, alpha, bgr, alpha).samples, 0u);  // four channels where three belong
  EXPECT_EQ(zef::CompositeErrorOf(bgr, alpha, bgr, alpha).samples, 2u * 2 * 6);
}

}  // namespace

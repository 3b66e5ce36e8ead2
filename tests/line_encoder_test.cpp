// How lines are cut into runs and how the counts in front of them come out.
#include <gtest/gtest.h>

#include "CoreArchives.h"

using namespace zeftest;

namespace {

// The image data of one image, coded with plain palette indices.
Bytes IndexData(const cv::Mat& image) { return ImageData(Encoded({image}, {}, OptionsOf(3, 0))); }

std::vector<int> Repeated(int colour, int count) { return std::vector<int>(size_t(count), colour); }

std::vector<int> Joined(std::vector<int> first, const std::vector<int>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

TEST(LineEncoder, RunsOfOneLine) {
  struct Case {
    const char* name;
    std::vector<int> colours;
    Bytes data;
  } cases[] = {
      {"two runs", {5, 5, 5, 7}, {2, 0, 0, 0, 2, 0, 0, 3, 1, 1}},
      {"one pixel", {9}, {1, 0, 0, 0, 1, 0, 0, 1}},
      {"cut at 255", Repeated(9, 300), {2, 0, 0, 0, 2, 0, 0, 255, 0, 45}},
      {"256 and one", Joined(Repeated(9, 256), {4}), {3, 0, 0, 0, 3, 0, 0, 255, 0, 1, 1, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(IndexData(ColourRow(c.colours)), c.data);
  }
}

TEST(LineEncoder, RunsNeverCrossALineEnd) {
  // Lines of 2, 1 and 4 runs; the last pixel of a line equals the next line's first.
  const cv::Mat image = ColourRow({1, 2, 2, 2, 2, 2, 2, 2, 2, 3, 2, 3}).reshape(3, 3);
  const Bytes data = IndexData(image);
  ASSERT_EQ(data.size(), 4 + 3 * 2 + 7 * 2u);
  EXPECT_EQ(U32At(data, 0), 7u);
  EXPECT_EQ(Bytes(data.begin() + 4, data.begin() + 10), (Bytes{2, 0, 0, 1, 1, 3}));
  EXPECT_EQ(Bytes(data.begin() + 10, data.begin() + 14), (Bytes{1, 0, 1, 4}));
  EXPECT_EQ(U16At(data, 14), 4);

  const cv::Mat colours = MakeImage(4, 3, [&](int x, int y) {
    return cv::Vec3b(uint8_t(image.at<cv::Vec3b>(y, x)[0] & 0xF0), 0, 0);
  });
  const Bytes words = ImageData(Encoded({colours}, {}, OptionsOf(2)));
  ASSERT_EQ(words.size(), 4 + 3 * 2 + 7 * 3u);
  EXPECT_EQ(U32At(words, 0), 7u);
  // colour word 0xF001 (opaque, blue 1) then length 1
  EXPECT_EQ(Bytes(words.begin() + 4, words.begin() + 9), (Bytes{2, 0, 0x01, 0xF0, 1}));
}

TEST(LineEncoder, EmptyImages) {
  EXPECT_EQ(IndexData(cv::Mat(0, 4, CV_8UC3)), (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(IndexData(cv::Mat(2, 0, CV_8UC3)), (Bytes{0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(ImageData(Encoded({cv::Mat(2, 0, CV_8UC3)}, {}, OptionsOf(2))), (Bytes{0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(LineEncoder, MaskStretchesSplitAndJoinColourStretches) {
  // The mask changes inside one colour's stretch; a mask stretch spans two
  // colours; equal codes of neighbouring pieces join into one run.
  const cv::Mat image = ColourRow({0, 0, 0, 0, 1, 1, 1, 2});
  const cv::Mat mask = MaskRow({255, 255, 10, 20, 20, 20, 200, 200});
  EXPECT_EQ(ImageData(Encoded({image}, {mask}, OptionsOf(3, 4))),
            (Bytes{5, 0, 0, 0, 5, 0, 0xC0, 2, 0x00, 2, 0x01, 2, 0xC1, 1, 0xC2, 1}));
}

}  // namespace

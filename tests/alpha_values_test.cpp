// Alpha codes from mask bytes, and the packing of pixel codes and colour
// words, as they come out in the image data of small archives.
#include <gtest/gtest.h>

#include "CoreArchives.h"

using namespace zeftest;

namespace {

constexpr zef::AlphaPosition kHigh = zef::AlphaPosition::kHigh;
constexpr zef::AlphaPosition kLow = zef::AlphaPosition::kLow;

TEST(AlphaValues, StoredValuesOfMaskBytes) {
  // Each case codes one line and looks at its runs: a pixel code and its
  // length (version 3) or a colour word and its length (version 2).
  struct Case {
    const char* name;
    zef::Options options;
    cv::Mat image, mask;
    Bytes runs;
  } cases[] = {
      // graded, 2 bits: 0-63 -> 0, 64-127 -> 1, 128-191 -> 2, 192-255 -> 3
      {"two bits graded", OptionsOf(3, 4), ColourRow({0, 0, 0, 0, 0, 0, 0, 0}),
       MaskRow({0, 63, 64, 127, 128, 191, 192, 255}), {0x00, 2, 0x40, 2, 0x80, 2, 0xC0, 2}},
      {"one bit", OptionsOf(3, 2), ColourRow({0, 0}), MaskRow({127, 128}), {0x00, 1, 0x80, 1}},
      // index 5 with alpha code 3
      {"index beside two bits", OptionsOf(3, 4), ColourRow({0, 1, 2, 3, 4, 5}), MaskRow({0, 0, 0, 0, 0, 255}),
       {0, 1, 1, 1, 2, 1, 3, 1, 4, 1, 0xC5, 1}},
      {"two bits at the low end", OptionsOf(3, 4, kLow), ColourRow({0, 5, 5}), MaskRow({255, 64, 63}),
       {3, 1, 5, 1, 4, 1}},
      // version 2: two-level nibbles from 64 up; blue 0x10, green 0x20, red 0x30
      {"two-level words", OptionsOf(2), FlatImage(3, 1, {0x10, 0x20, 0x30}), MaskRow({63, 64, 255}),
       {0x21, 0x03, 1, 0x21, 0xF3, 2}},
      {"words without a mask are opaque", OptionsOf(2), FlatImage(1, 1, {0x10, 0x20, 0x30}), {},
       {0x21, 0xF3, 1}},
      {"words with the alpha at the low end", OptionsOf(2, 0, kLow), FlatImage(2, 1, {0x10, 0x20, 0x30}),
       MaskRow({255, 0}), {0x1F, 0x32, 1, 0x10, 0x32, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<cv::Mat> masks = c.mask.empty() ? std::vector<cv::Mat>{} : std::vector<cv::Mat>{c.mask};
    const Bytes data = ImageData(Encoded({c.image}, masks, c.options));
    ASSERT_GE(data.size(), 6u);
    EXPECT_EQ(Bytes(data.begin() + 6, data.end()), c.runs);
  }
}

TEST(AlphaValues, HighIndicesKeepTheirBitsBesideOneAlphaBit) {
  std::vector<int> colours(71);
  for (int i = 0; i < 71; ++i) colours[size_t(i)] = i;
  const cv::Mat mask = FlatMask(71, 1, 255);
  for (auto [position, code] : {std::pair{kHigh, 0xC6}, std::pair{kLow, 141}}) {
    const Bytes data = ImageData(Encoded({ColourRow(colours)}, {mask}, OptionsOf(3, 2, position)));
    ASSERT_EQ(data.size(), 6 + 71 * 2u);
    EXPECT_EQ(data[6 + 70 * 2], code);  // index 70, alpha code 1
  }
}

}  // namespace

// Archives made in memory by the core encoder, and the pieces of them that
// tests look at.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "TestImages.h"
#include "writer/ZefEncodeMat.h"

namespace zeftest {

inline zef::Options OptionsOf(int version, int alphaValues = 4,
                              zef::AlphaPosition position = zef::AlphaPosition::kHigh) {
  zef::Options options;
  options.version = version;
  options.alphaValues = alphaValues;
  options.alphaPosition = position;
  return options;
}

// The archive; a failed encode fails the test and gives no bytes.
inline Bytes Encoded(const std::vector<cv::Mat>& images, const std::vector<cv::Mat>& masks,
                     const zef::Options& options) {
  zef::EncodeResult result = zef::EncodeMats(images, masks, options);
  EXPECT_TRUE(result.Ok()) << result.message;
  return std::move(result.bytes);
}

// The position of image n's marker, from its record.
inline size_t ImageOffset(const Bytes& archive, size_t n) {
  const bool v3 = U16At(archive, 3) == 3;
  return U32At(archive, (v3 ? 25 : 21) + n * (v3 ? 16 : 14) + (v3 ? 12 : 10));
}

// The image data of image n (run count, lines and runs), behind its marker.
inline Bytes ImageData(const Bytes& archive, size_t n = 0) {
  const bool v3 = U16At(archive, 3) == 3;
  const size_t records = v3 ? 25 : 21, recordSize = v3 ? 16 : 14, offsetAt = v3 ? 12 : 10;
  const size_t count = U32At(archive, 5);
  const size_t start = U32At(archive, records + n * recordSize + offsetAt) + 2;
  const size_t end = n + 1 < count ? U32At(archive, records + (n + 1) * recordSize + offsetAt)
                                   : archive.size();
  return Bytes(archive.begin() + long(start), archive.begin() + long(end));
}

// One line of pixels, pixel x of colour number colours[x] (the colours of
// ImageWithColours).
inline cv::Mat ColourRow(const std::vector<int>& colours) {
  const cv::Mat palette = ImageWithColours(4096);
  return MakeImage(int(colours.size()), 1,
                   [&](int x, int) { return palette.at<cv::Vec3b>(0, colours[size_t(x)]); });
}

inline cv::Mat MaskRow(const std::vector<uint8_t>& bytes) { return cv::Mat(bytes, true).reshape(1, 1); }

}  // namespace zeftest

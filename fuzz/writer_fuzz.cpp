// Writer round trip: the leading bytes choose the version, the alpha
// setting, masks and image sizes; the rest paints small images and masks in
// runs. A Write that should succeed must succeed, one that must be refused
// must be refused with a message, and reading the archive back must give
// every source with the low four bits of each channel cleared. The archive
// is written in memory. The device decoder and the core decode read the
// same bytes and must also give back the alpha taken from the masks.
// Version 4 is written by the library core (zef::Encode): its colours and
// alpha come back exactly (black where the alpha is 0), through the device
// decoder and the core decode, and the described reader refuses it.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/ZefDecode.h"
#include "archive/ZefImgReader.h"
#include "device/zefdec.h"
#include "writer/ZefEncode.h"
#include "writer/ZefImgWriter.h"

// The target's own helpers are left out of the coverage feedback: only the
// library's branches should steer the fuzzer, and it runs twice as fast.
#define ZEF_NO_COVERAGE __attribute__((no_sanitize("coverage")))

namespace {

// Small images keep the executions fast; the wide ones are short and reach
// past two cut runs of 255 and past the largest palette.
constexpr int kMaxImages = 3;
constexpr int kMaxNarrowWidth = 24;
constexpr int kMaxNarrowHeight = 8;
constexpr int kMinWideWidth = 200;
constexpr int kMaxWideWidth = 600;
constexpr int kMaxWideHeight = 2;
constexpr int kMaxColours = 300;

[[noreturn]] void Fail(const char* what, int image) {
  std::fprintf(stderr, "writer_fuzz: %s (image %d)\n", what, image);
  std::abort();
}

// Either a plain matrix or a window into a larger one, so that row strides
// other than the width are written too.
ZEF_NO_COVERAGE cv::Mat NewMat(FuzzedDataProvider& data, int width, int height, int type) {
  if (!data.ConsumeBool()) return cv::Mat(height, width, type);
  const int padX = data.ConsumeIntegralInRange(0, 3), padY = data.ConsumeIntegralInRange(0, 2);
  cv::Mat outer(height + padY, width + padX, type, cv::Scalar::all(0x5A));
  return outer(cv::Rect(padX, padY, width, height));
}

// Fills the image row by row with runs of colours from a small set.
ZEF_NO_COVERAGE cv::Mat PaintImage(FuzzedDataProvider& data, int width, int height) {
  const int colourCount = data.ConsumeIntegralInRange(1, kMaxColours);
  std::vector<cv::Vec3b> colours(static_cast<size_t>(colourCount));
  for (cv::Vec3b& colour : colours) {
    for (int c = 0; c < 3; ++c) colour[c] = data.ConsumeIntegral<uint8_t>();
  }
  cv::Mat image = NewMat(data, width, height, CV_8UC3);
  const int pixels = width * height;
  for (int at = 0; at < pixels;) {
    const cv::Vec3b colour = colours[size_t(data.ConsumeIntegralInRange(0, colourCount - 1))];
    const int length = data.ConsumeIntegralInRange(1, 300);
    for (int end = std::min(pixels, at + length); at < end; ++at) {
      image.at<cv::Vec3b>(at / width, at % width) = colour;
    }
  }
  return image;
}

ZEF_NO_COVERAGE cv::Mat PaintMask(FuzzedDataProvider& data, int width, int height) {
  cv::Mat mask = NewMat(data, width, height, CV_8UC1);
  const int pixels = width * height;
  for (int at = 0; at < pixels;) {
    const uint8_t value = data.ConsumeIntegral<uint8_t>();
    const int length = data.ConsumeIntegralInRange(1, 64);
    for (int end = std::min(pixels, at + length); at < end; ++at) {
      mask.at<uint8_t>(at / width, at % width) = value;
    }
  }
  return mask;
}

ZEF_NO_COVERAGE size_t DistinctColours(const cv::Mat& image) {
  std::array<bool, 4096> seen{};
  size_t count = 0;
  for (int y = 0; y < image.rows; ++y) {
    for (int x = 0; x < image.cols; ++x) {
      const cv::Vec3b pixel = image.at<cv::Vec3b>(y, x);
      const int colour = (pixel[0] >> 4) << 8 | (pixel[1] >> 4) << 4 | pixel[2] >> 4;
      count += !seen[size_t(colour)];
      seen[size_t(colour)] = true;
    }
  }
  return count;
}

// Version 4 entries: colour and alpha pairs, every pixel of alpha 0 one entry.
ZEF_NO_COVERAGE size_t DistinctEntries(const cv::Mat& image, const cv::Mat* mask) {
  std::vector<uint32_t> entries;
  for (int y = 0; y < image.rows; ++y) {
    for (int x = 0; x < image.cols; ++x) {
      const cv::Vec3b pixel = image.at<cv::Vec3b>(y, x);
      const uint32_t alpha = mask ? mask->at<uint8_t>(y, x) : 255;
      entries.push_back(alpha == 0 ? 0 : alpha << 24 | uint32_t(pixel[0]) << 16 | pixel[1] << 8 | pixel[2]);
    }
  }
  std::sort(entries.begin(), entries.end());
  return size_t(std::unique(entries.begin(), entries.end()) - entries.begin());
}

// What version 4 shows: the source exactly, black where the mask is 0.
ZEF_NO_COVERAGE cv::Mat ShownV4(const cv::Mat& image, const cv::Mat* mask) {
  cv::Mat result = image.clone();
  if (mask) result.setTo(cv::Scalar::all(0), *mask == 0);
  return result;
}

ZEF_NO_COVERAGE cv::Mat Quantised(const cv::Mat& image) {
  cv::Mat result = image.clone();
  result.forEach<cv::Vec3b>([](cv::Vec3b& pixel, const int*) {
    for (int c = 0; c < 3; ++c) pixel[c] &= 0xF0;
  });
  return result;
}

// The alpha a decoder reports for a mask byte: the stored code (two-level
// nibble in version 2, top mask bits in version 3) repeated down to 8 bits.
ZEF_NO_COVERAGE uint8_t ExpectedAlpha(int version, int alphaValues, bool hasMask, uint8_t maskByte) {
  if (!hasMask) return 255;
  if (version == zef::kVersion4) return maskByte;
  if (version == zef::kVersion2) return maskByte >= zef::kTwoLevelThreshold ? 255 : 0;
  const int bits = alphaValues == 2 ? 1 : 2;
  const int code = maskByte >> (8 - bits), top = (1 << bits) - 1;
  return uint8_t(code * 255 / top);
}

ZEF_NO_COVERAGE void CheckWithDevice(const std::vector<uint8_t>& file, const std::vector<cv::Mat>& images,
                     const std::vector<cv::Mat>& masks, int version, int alphaValues,
                     int32_t startIndex) {
  zefdec_archive archive;
  if (zefdec_open(&archive, file.data(), file.size()) != ZEFDEC_OK) Fail("device refuses", -1);
  if (zefdec_count(&archive) != images.size()) Fail("device image count differs", -1);
  for (size_t n = 0; n < images.size(); ++n) {
    const cv::Mat expected =
        version == zef::kVersion4 ? ShownV4(images[n], masks.empty() ? nullptr : &masks[n]) : Quantised(images[n]);
    zefdec_image_info info;
    zefdec_image image;
    if (zefdec_info(&archive, uint32_t(n), &info) != ZEFDEC_OK ||
        info.width != uint32_t(expected.cols) || info.height != uint32_t(expected.rows)) {
      Fail("device image size differs", int(n));
    }
    if (version != zef::kVersion2 && info.number != uint32_t(startIndex) + uint32_t(n)) {
      Fail("device image number differs", int(n));
    }
    if (zefdec_begin(&image, &archive, uint32_t(n), ZEFDEC_BGR888) != ZEFDEC_OK) Fail("device begin", int(n));
    std::vector<uint8_t> line(info.width * 3), alpha(info.width);
    for (int y = 0; y < expected.rows; ++y) {
      if (zefdec_line(&image, line.data(), alpha.data(), info.width) != ZEFDEC_OK) Fail("device line", int(n));
      if (std::memcmp(line.data(), expected.ptr(y), line.size()) != 0) Fail("device pixels differ", int(n));
      for (int x = 0; x < expected.cols; ++x) {
        const bool hasMask = !masks.empty();
        const uint8_t maskByte = hasMask ? masks[n].at<uint8_t>(y, x) : 0;
        if (alpha[size_t(x)] != ExpectedAlpha(version, alphaValues, hasMask, maskByte)) {
          Fail("device alpha differs", int(n));
        }
      }
    }
  }
}

// Version 4 through the library core's writer and both decoders.
ZEF_NO_COVERAGE void CheckVersion4(const std::vector<cv::Mat>& images, const std::vector<cv::Mat>& masks,
                                   bool mustFail, int32_t startIndex) {
  std::vector<zef::ImageView> views;
  std::vector<zef::MaskView> maskViews;
  for (const cv::Mat& image : images) views.push_back({image.data, image.cols, image.rows, image.step});
  for (const cv::Mat& mask : masks) maskViews.push_back({mask.data, mask.cols, mask.rows, mask.step});
  zef::Options options;
  options.version = zef::kVersion4;
  options.startIndex = startIndex;
  const zef::EncodeResult written = zef::Encode(views, maskViews, options);
  if (written.Ok() == mustFail) Fail(written.Ok() ? "invalid input written" : written.message.c_str(), -1);
  if (!written.Ok()) {
    if (written.message.empty()) Fail("refused without a message", -1);
    return;
  }
  CheckWithDevice(written.bytes, images, masks, zef::kVersion4, 0, startIndex);
  const zef::DecodeResult core = zef::Decode(written.bytes.data(), written.bytes.size());
  if (!core.Ok() || core.images.size() != images.size() || core.info.alphaBits != 8) Fail("core decode fails", -1);
  for (size_t n = 0; n < images.size(); ++n) {
    const cv::Mat shown = ShownV4(images[n], masks.empty() ? nullptr : &masks[n]);
    const std::vector<uint8_t>& pixels = core.images[n].pixels;
    const std::vector<uint8_t>& codes = core.images[n].alphaCodes;
    if (pixels.size() != shown.total() * 3 || codes.size() != shown.total()) Fail("core image size", int(n));
    for (int y = 0; y < shown.rows; ++y) {
      if (std::memcmp(pixels.data() + size_t(y) * size_t(shown.cols) * 3, shown.ptr(y), size_t(shown.cols) * 3)) {
        Fail("core pixels differ", int(n));
      }
      for (int x = 0; x < shown.cols; ++x) {
        const uint8_t alpha = masks.empty() ? 255 : masks[n].at<uint8_t>(y, x);
        if (codes[size_t(y) * size_t(shown.cols) + size_t(x)] != alpha) Fail("core alpha differs", int(n));
      }
    }
  }
  zef::ZefImgReader reader;
  if (reader.ReadMemory(written.bytes.data(), written.bytes.size())) Fail("the described reader reads version 4", -1);
}

}  // namespace

// One thread: the fuzzer runs beside other work, and OpenCV's worker
// threads would only add noise to the coverage.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  cv::setNumThreads(0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider data(bytes, size);
  const int version = std::array{zef::kVersion2, zef::kVersion3, zef::kVersion4}[data.ConsumeIntegralInRange(0, 2)];
  const int alphaValues = std::array{0, 2, 4}[data.ConsumeIntegralInRange(0, 2)];
  const bool useMasks = data.ConsumeBool();
  const bool maskMismatch = useMasks && data.ConsumeIntegralInRange(0, 31) == 0;
  const int32_t startIndex = data.ConsumeIntegral<int32_t>();
  const int imageCount = data.ConsumeIntegralInRange(1, kMaxImages);

  std::vector<cv::Mat> images, masks;
  bool paletteTooBig = false, entriesTooMany = false;
  const size_t paletteLimit = alphaValues == 0 ? 256 : alphaValues == 2 ? 128 : 64;
  for (int n = 0; n < imageCount; ++n) {
    const bool wide = data.ConsumeIntegralInRange(0, 7) == 0;
    const int width = wide ? data.ConsumeIntegralInRange(kMinWideWidth, kMaxWideWidth)
                           : data.ConsumeIntegralInRange(1, kMaxNarrowWidth);
    const int height = data.ConsumeIntegralInRange(1, wide ? kMaxWideHeight : kMaxNarrowHeight);
    images.push_back(PaintImage(data, width, height));
    paletteTooBig |= DistinctColours(images.back()) > paletteLimit;
    if (useMasks) {
      const int maskWidth = maskMismatch && n == imageCount - 1 ? width + 1 : width;
      masks.push_back(PaintMask(data, maskWidth, height));
    }
    if (!maskMismatch) entriesTooMany |= DistinctEntries(images.back(), useMasks ? &masks.back() : nullptr) > 256;
  }
  if (version == zef::kVersion4) {
    CheckVersion4(images, masks, maskMismatch || entriesTooMany, startIndex);
    return 0;
  }

  zef::ZefImgWriter writer;
  writer.SetVersion(version);
  if (version == zef::kVersion3) writer.setAlpha(alphaValues);
  writer.SetStartIndex(startIndex);
  if (writer.HasError()) Fail("settings refused", -1);

  const bool mustFail =
      maskMismatch || (version == zef::kVersion3 && (paletteTooBig || (useMasks && alphaValues == 0)));
  const std::optional<std::vector<uint8_t>> written = writer.WriteMemory(images, masks);
  if (written.has_value() == mustFail) Fail(written ? "invalid input written" : writer.GetError().c_str(), -1);
  if (!written) {
    if (writer.GetError().empty()) Fail("refused without a message", -1);
    return 0;
  }

  const std::vector<uint8_t>& file = *written;
  CheckWithDevice(file, images, masks, version, alphaValues, startIndex);
  const zef::DecodeResult core = zef::Decode(file.data(), file.size());
  if (!core.Ok() || core.images.size() != images.size()) Fail("core decode fails", -1);
  for (size_t n = 0; n < images.size(); ++n) {
    const std::vector<uint8_t>& codes = core.images[n].alphaCodes;
    if (codes.size() != (masks.empty() ? 0 : images[n].total())) Fail("core alpha missing", int(n));
    for (size_t p = 0; p < codes.size(); ++p) {
      const int x = int(p % size_t(images[n].cols)), y = int(p / size_t(images[n].cols));
      if (zef::Alpha8(codes[p], core.info.alphaBits) !=
          ExpectedAlpha(version, alphaValues, true, masks[n].at<uint8_t>(y, x))) {
        Fail("core alpha differs", int(n));
      }
    }
  }
  zef::ZefImgReader reader;
  const std::optional<std::vector<cv::Mat>> decoded = reader.ReadMemory(file.data(), file.size());
  if (!decoded) Fail(reader.GetError().c_str(), -1);
  if (decoded->size() != images.size()) Fail("image count differs", -1);
  for (size_t n = 0; n < images.size(); ++n) {
    const cv::Mat& back = (*decoded)[n];
    if (back.type() != CV_8UC3 || back.size() != images[n].size()) Fail("image size differs", int(n));
    if (cv::norm(back, Quantised(images[n]), cv::NORM_INF) != 0) Fail("pixels differ", int(n));
  }
  if (version == zef::kVersion3 && reader.GetStartIndex() != uint32_t(startIndex)) {
    Fail("start index differs", -1);
  }
  return 0;
}

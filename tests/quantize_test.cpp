// Colour reduction: level mapping of images that fit, palettes of images
// that do not, invisible pixels, dithering, the PSNR measure, and input the
// module refuses; RGBA palettes chosen for a composite PSNR under a cap.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <new>
#include <set>

#include "TestImages.h"
#include "archive/ZefImgReader.h"
#include "quantize/CompositePsnr.h"
#include "quantize/Quantize.h"
#include "quantize/ReduceRgba.h"
#include "archive/ZefDecode.h"
#include "writer/ZefEncodeMat.h"
#include "writer/ZefImgWriter.h"

using namespace zeftest;
using zef::quantize::Levels;
using zef::quantize::ReduceOptions;
using zef::quantize::ReduceResult;

namespace {

// A smooth two-dimensional gradient: far more 4-bit colours than any palette.
cv::Mat Gradient(int side) {
  return MakeImage(side, side, [side](int x, int y) {
    return cv::Vec3b(uint8_t(x * 255 / (side - 1)), uint8_t(y * 255 / (side - 1)),
                     uint8_t((x + y) * 255 / (2 * side - 2)));
  });
}

// An opaque disc on a clear background with a band of each alpha code
// between them.
cv::Mat DiscMask(int side) {
  cv::Mat mask(side, side, CV_8UC1);
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      const double r = std::hypot(x - side / 2.0, y - side / 2.0) / (side / 2.0);
      mask.at<uint8_t>(y, x) = r < 0.6 ? 255 : r < 0.7 ? 200 : r < 0.8 ? 100 : r < 0.9 ? 40 : 0;
    }
  }
  return mask;
}

std::set<int> ColoursOf(const cv::Mat& image, const cv::Mat& only = cv::Mat()) {
  std::set<int> colours;
  for (int y = 0; y < image.rows; ++y) {
    for (int x = 0; x < image.cols; ++x) {
      if (!only.empty() && only.at<uint8_t>(y, x) == 0) continue;
      const cv::Vec3b p = image.at<cv::Vec3b>(y, x);
      colours.insert(p[0] << 16 | p[1] << 8 | p[2]);
    }
  }
  return colours;
}

bool OnLevels(const cv::Mat& image) {
  bool on = true;
  image.forEach<cv::Vec3b>([&on](const cv::Vec3b& p, const int*) {
    for (int c = 0; c < 3; ++c) on = on && p[c] % 16 == 0;
  });
  return on;
}

// Pixels whose mask byte has alpha code 0 at these alpha values.
cv::Mat InvisibleOf(const cv::Mat& mask, int alphaValues) {
  cv::Mat invisible(mask.size(), CV_8UC1);
  for (int y = 0; y < mask.rows; ++y) {
    for (int x = 0; x < mask.cols; ++x) {
      invisible.at<uint8_t>(y, x) = zef::quantize::AlphaCode(mask.at<uint8_t>(y, x), alphaValues) == 0;
    }
  }
  return invisible;
}

bool Same(const cv::Mat& a, const cv::Mat& b) {
  return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

// The archive bytes the console tool's settings (version 3) give for these
// images and masks; empty when the writer refuses them.
Bytes ArchiveOf(const TempDir& dir, const cv::Mat& image, const cv::Mat& mask, int alphaValues) {
  zef::ZefImgWriter writer;
  writer.SetVersion(3);
  writer.setAlpha(alphaValues);
  const std::filesystem::path path = dir / "out.zef";
  if (!writer.Write(path.string(), {image}, mask.empty() ? std::vector<cv::Mat>{} : std::vector<cv::Mat>{mask})) {
    return {};
  }
  return ReadFile(path);
}

TEST(Quantize, ImagesThatFitOnlyChangeLevels) {
  // 200 colours at distinct levels, with values off the levels by -8..+7.
  const cv::Mat image = MakeImage(20, 10, [](int x, int y) {
    const int n = y * 20 + x;
    return cv::Vec3b(uint8_t(std::max(0, (n % 16) * 16 - 8 + n % 16)), uint8_t((n / 16 % 13) * 16 + 7),
                     uint8_t((n / 208) * 16 + 15));
  });
  struct Case {
    const char* name;
    Levels levels;
    int maxColors;
    std::function<int(int)> level;
  } cases[] = {
      {"nearest", Levels::kNearest, 256, [](int v) { return std::min(15, (v + 8) / 16); }},
      {"cut", Levels::kCut, 256, [](int v) { return v >> 4; }},
      {"cut, cap just met", Levels::kCut, 200, [](int v) { return v >> 4; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ReduceOptions options;
    options.levels = c.levels;
    options.maxColors = c.maxColors;
    const std::optional<ReduceResult> result = zef::quantize::Reduce(image, cv::Mat(), options);
    ASSERT_TRUE(result.has_value());
    EXPECT_FALSE(result->reduced);
    for (int y = 0; y < image.rows; ++y) {
      for (int x = 0; x < image.cols; ++x) {
        for (int ch = 0; ch < 3; ++ch) {
          ASSERT_EQ(result->bgr.at<cv::Vec3b>(y, x)[ch], c.level(image.at<cv::Vec3b>(y, x)[ch]) * 16);
        }
      }
    }
    EXPECT_EQ(result->psnr, zef::quantize::VisiblePsnr(image, cv::Mat(), 0, result->bgr));
    const int distinct = int(ColoursOf(result->bgr).size());
    EXPECT_EQ(result->colorsBefore, distinct);
    EXPECT_EQ(result->colorsAfter, distinct);
  }
}

TEST(Quantize, CompatibleModeStoresWhatTheConsoleToolStores) {
  // Random colours from a set of 60, a random mask: invisible pixels keep
  // their colours, so the writer's palette sees the same colours either way.
  std::mt19937 random(7);
  const cv::Mat image = RandomImage(random, 40, 30, 60);
  const cv::Mat mask = RandomMask(random, 40, 30);
  TempDir dir;
  for (int alphaValues : {0, 2, 4}) {
    SCOPED_TRACE(alphaValues);
    ReduceOptions options;
    options.levels = Levels::kCut;
    options.unifyInvisible = false;
    options.alphaValues = alphaValues;
    options.maxColors = alphaValues == 4 ? 64 : 256;
    const cv::Mat usedMask = alphaValues == 0 ? cv::Mat() : mask;
    const std::optional<ReduceResult> result = zef::quantize::Reduce(image, usedMask, options);
    ASSERT_TRUE(result.has_value());
    EXPECT_FALSE(result->reduced);
    const Bytes expected = ArchiveOf(dir, image, usedMask, alphaValues);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(ArchiveOf(dir, result->bgr, usedMask, alphaValues), expected);
  }
}

TEST(Quantize, ReducedImagesFitTheirCapAndTheWriter) {
  const cv::Mat gradient = Gradient(64);
  const cv::Mat mask = DiscMask(64);
  struct Case {
    const char* name;
    int maxColors, alphaValues;
    float dither;
    bool masked;
    double leastPsnr;
  } cases[] = {
      // Least PSNR: about 1 dB under what the search reaches on this image.
      {"256 opaque", 256, 0, 0, false, 32},
      {"64 with 4 alpha values", 64, 4, 0, true, 29},
      {"128 with 2 alpha values", 128, 2, 0, true, 33},
      {"16 opaque", 16, 0, 0, false, 22},
      {"one colour", 1, 4, 0, true, 13.5},
      {"64 dithered", 64, 4, 1.0f, true, 27.5},
      {"256 half dithered", 256, 0, 0.5f, false, 31.5},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ReduceOptions options;
    options.maxColors = c.maxColors;
    options.alphaValues = c.alphaValues;
    options.ditherStrength = c.dither;
    const cv::Mat usedMask = c.masked ? mask : cv::Mat();
    const std::optional<ReduceResult> result = zef::quantize::Reduce(gradient, usedMask, options);
    ASSERT_TRUE(result.has_value());
    EXPECT_TRUE(result->reduced);
    EXPECT_GT(result->colorsBefore, c.maxColors);
    EXPECT_LE(result->colorsAfter, c.maxColors);
    EXPECT_EQ(result->colorsAfter, int(ColoursOf(result->bgr).size()));
    EXPECT_TRUE(OnLevels(result->bgr));
    const double psnr = zef::quantize::VisiblePsnr(gradient, usedMask, c.alphaValues, result->bgr);
    EXPECT_GE(psnr, c.leastPsnr);
    EXPECT_EQ(result->psnr, psnr);

    // The writer takes it, and a reader shows exactly the result's colours.
    const Bytes archive = ArchiveOf(dir, result->bgr, usedMask, c.alphaValues);
    ASSERT_FALSE(archive.empty());
    zef::ZefImgReader reader;
    const auto images = reader.ReadMemory(archive.data(), archive.size());
    ASSERT_TRUE(images.has_value()) << reader.GetError();
    EXPECT_TRUE(Same((*images)[0], result->bgr));
  }
}

// Every pixel on a shown level is its colour's mean, so it must end on the
// palette colour nearest to it: no colour left in the result is nearer. The
// caps are not whole groups of four centres, and one is a single colour.
TEST(Quantize, EveryColourTakesItsNearestEntry) {
  const cv::Mat gradient = Gradient(64);
  cv::Mat shown(1, 256, CV_8UC1), onLevels;
  for (int v = 0; v < 256; ++v) shown.at<uint8_t>(v) = uint8_t(v / 16 * 16);
  cv::LUT(gradient, shown, onLevels);
  for (int cap : {1, 2, 3, 5, 7, 61, 64, 130}) {
    SCOPED_TRACE(cap);
    ReduceOptions options;
    options.maxColors = cap;
    const auto result = zef::quantize::Reduce(onLevels, cv::Mat(), options);
    ASSERT_TRUE(result.has_value());
    ASSERT_TRUE(result->reduced);
    EXPECT_EQ(result->colorsAfter, int(ColoursOf(result->bgr).size()));
    std::vector<cv::Vec3b> palette;
    for (int colour : ColoursOf(result->bgr)) {
      palette.push_back(cv::Vec3b(uint8_t(colour >> 16), uint8_t(colour >> 8), uint8_t(colour)));
    }
    const auto square = [](const cv::Vec3b& a, const cv::Vec3b& b) {
      double sum = 0;
      for (int c = 0; c < 3; ++c) sum += (double(a[c]) - b[c]) * (double(a[c]) - b[c]);
      return sum;
    };
    int farther = 0;
    for (int y = 0; y < onLevels.rows; ++y) {
      for (int x = 0; x < onLevels.cols; ++x) {
        const cv::Vec3b pixel = onLevels.at<cv::Vec3b>(y, x);
        double nearest = INFINITY;
        for (const cv::Vec3b& entry : palette) nearest = std::min(nearest, square(pixel, entry));
        // Near-equal distances may go either way.
        if (square(pixel, result->bgr.at<cv::Vec3b>(y, x)) > nearest * (1 + 1e-4)) ++farther;
      }
    }
    EXPECT_EQ(farther, 0);
  }
}

TEST(Quantize, ResultsDependOnlyOnTheInput) {
  const cv::Mat gradient = Gradient(48);
  const cv::Mat mask = DiscMask(48);
  // The same pixels as a window into a larger image (rows not contiguous).
  cv::Mat larger(60, 70, CV_8UC3, cv::Scalar(1, 2, 3));
  gradient.copyTo(larger(cv::Rect(5, 6, 48, 48)));
  const cv::Mat window = larger(cv::Rect(5, 6, 48, 48));
  for (float dither : {0.0f, 0.75f}) {
    ReduceOptions options;
    options.maxColors = 40;
    options.alphaValues = 4;
    options.ditherStrength = dither;
    const auto first = zef::quantize::Reduce(gradient, mask, options);
    const auto second = zef::quantize::Reduce(gradient.clone(), mask.clone(), options);
    const auto third = zef::quantize::Reduce(window, mask, options);
    ASSERT_TRUE(first && second && third);
    EXPECT_TRUE(Same(first->bgr, second->bgr));
    EXPECT_TRUE(Same(first->bgr, third->bgr));
  }
}

TEST(Quantize, InvisiblePixelsTakeOneColourThatAddsNoEntry) {
  std::mt19937 random(3);
  const cv::Mat image = RandomImage(random, 32, 32, 200);
  const cv::Mat mask = DiscMask(32);
  struct Case {
    int alphaValues, maxColors;
  } cases[] = {{4, 64}, {2, 128}, {4, 256}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.alphaValues * 1000 + c.maxColors);
    ReduceOptions options;
    options.alphaValues = c.alphaValues;
    options.maxColors = c.maxColors;
    const auto result = zef::quantize::Reduce(image, mask, options);
    ASSERT_TRUE(result.has_value());
    const cv::Mat invisible = InvisibleOf(mask, c.alphaValues);
    cv::Mat visible;
    cv::bitwise_not(invisible, visible);
    visible &= 1;
    const std::set<int> underInvisible = ColoursOf(result->bgr, invisible);
    ASSERT_EQ(underInvisible.size(), 1u);
    EXPECT_TRUE(ColoursOf(result->bgr, visible).count(*underInvisible.begin()));
    EXPECT_EQ(result->colorsAfter, int(ColoursOf(result->bgr, visible).size()));
    EXPECT_LE(result->colorsAfter, c.maxColors);
    // Invisible pixels, whatever colour they took, do not count.
    EXPECT_EQ(result->psnr, zef::quantize::VisiblePsnr(image, mask, c.alphaValues, result->bgr));
  }

  // Nothing visible at all: one colour for the whole image.
  const auto clear = zef::quantize::Reduce(image, FlatMask(32, 32, 10), {64, Levels::kNearest, 0, 4, true});
  ASSERT_TRUE(clear.has_value());
  EXPECT_EQ(clear->colorsBefore, 0);
  EXPECT_EQ(clear->colorsAfter, 1);
}

TEST(Quantize, OnlyVisiblePixelsClaimPaletteEntries) {
  // 64 colours in the visible left half, more under the invisible right
  // half.
  const cv::Mat image = MakeImage(16, 8, [](int x, int y) {
    const int n = y * 8 + x % 8;
    return x < 8 ? cv::Vec3b(uint8_t(n % 4 * 64), uint8_t(n / 4 % 4 * 64), uint8_t(n / 16 * 64))
                 : cv::Vec3b(uint8_t(n % 5 * 16 + 8), 8, uint8_t(n / 5 * 16 + 8));
  });
  cv::Mat halfMask = FlatMask(16, 8, 0);
  halfMask(cv::Rect(0, 0, 8, 8)).setTo(255);
  const cv::Mat left = image(cv::Rect(0, 0, 8, 8));
  struct Case {
    const char* name;
    bool unify;
    bool reduced;
  } cases[] = {{"unified", true, false}, {"kept", false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ReduceOptions options;
    options.maxColors = 64;
    options.alphaValues = 4;
    options.unifyInvisible = c.unify;
    options.levels = Levels::kCut;
    const auto result = zef::quantize::Reduce(image, halfMask, options);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->reduced, c.reduced);
    EXPECT_EQ(result->colorsBefore, 64);
    EXPECT_EQ(result->colorsAfter, 64);
    // The visible colours come through untouched either way.
    EXPECT_TRUE(Same(result->bgr(cv::Rect(0, 0, 8, 8)), left));
  }

  // A faint pixel weighs less than an opaque one: one entry for two colours
  // lands nearer the opaque colour.
  const cv::Mat pair = MakeImage(2, 1, [](int x, int) { return x == 0 ? cv::Vec3b(0, 0, 0) : cv::Vec3b(240, 240, 240); });
  cv::Mat pairMask = FlatMask(2, 1, 255);
  pairMask.at<uint8_t>(0, 1) = 64;
  const auto one = zef::quantize::Reduce(pair, pairMask, {1, Levels::kNearest, 0, 4, true});
  ASSERT_TRUE(one.has_value());
  EXPECT_LT(one->bgr.at<cv::Vec3b>(0, 0)[0], 120);
  EXPECT_TRUE(Same(one->bgr.col(0), one->bgr.col(1)));
}

TEST(Quantize, PsnrCountsVisiblePixelsAsADecoderShowsThem) {
  const cv::Mat black = FlatImage(4, 4, {0, 0, 0});
  const cv::Mat grey = FlatImage(4, 4, {16, 16, 16});
  const cv::Mat greyish = FlatImage(4, 4, {31, 16, 20});  // stored as 1 in every channel
  cv::Mat halfMask = FlatMask(4, 4, 255);
  halfMask(cv::Rect(0, 0, 2, 4)).setTo(63);
  cv::Mat halfGrey = black.clone();
  halfGrey(cv::Rect(0, 0, 2, 4)).setTo(cv::Scalar(16, 16, 16));
  const double inf = std::numeric_limits<double>::infinity();
  const double sixteen = 10 * std::log10(255.0 * 255.0 / 256.0);  // error 16 in every value
  struct Case {
    const char* name;
    cv::Mat source, mask;
    int alphaValues;
    cv::Mat result;
    double expected;
  } cases[] = {
      {"identical", grey, cv::Mat(), 0, grey, inf},
      {"off by a level", black, cv::Mat(), 0, grey, sixteen},
      {"decoded by the cut", grey, cv::Mat(), 0, greyish, inf},
      {"errors only where invisible", black, halfMask, 4, halfGrey, inf},
      {"errors only where invisible at two values", black, halfMask, 2, halfGrey, inf},
      {"mask unused without alpha values", black, halfMask, 0, halfGrey, sixteen + 10 * std::log10(2.0)},
      {"half the pixels wrong", black, cv::Mat(), 0, halfGrey, sixteen + 10 * std::log10(2.0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const double psnr = zef::quantize::VisiblePsnr(c.source, c.mask, c.alphaValues, c.result);
    if (std::isinf(c.expected)) {
      EXPECT_EQ(psnr, c.expected);
    } else {
      EXPECT_NEAR(psnr, c.expected, 1e-9);
    }
  }
  EXPECT_TRUE(std::isnan(zef::quantize::VisiblePsnr(black, cv::Mat(), 0, FlatImage(3, 4, {0, 0, 0}))));
  EXPECT_TRUE(std::isnan(zef::quantize::VisiblePsnr(black, FlatMask(4, 3, 0), 4, black)));
}

TEST(Quantize, AlphaCodesMatchTheWriter) {
  // Every mask byte goes through the encoder, and the decoded alpha code is
  // what the quantizer must call visible or not.
  cv::Mat image(1, 256, CV_8UC3, cv::Scalar(16, 32, 48));
  cv::Mat mask(1, 256, CV_8UC1);
  for (int m = 0; m < 256; ++m) mask.at<uint8_t>(0, m) = uint8_t(m);
  for (int alphaValues : {2, 4}) {
    zef::Options options;
    options.alphaValues = alphaValues;
    const zef::EncodeResult encoded = zef::EncodeMats({image}, {mask}, options);
    ASSERT_TRUE(encoded.Ok()) << encoded.message;
    const zef::DecodeResult decoded = zef::Decode(encoded.bytes.data(), encoded.bytes.size(), options);
    ASSERT_TRUE(decoded.Ok()) << decoded.message;
    ASSERT_EQ(decoded.images.size(), 1u);
    const std::vector<uint8_t>& codes = decoded.images[0].alphaCodes;
    ASSERT_EQ(codes.size(), 256u);
    for (int m = 0; m < 256; ++m) {
      ASSERT_EQ(zef::quantize::AlphaCode(uint8_t(m), alphaValues), codes[size_t(m)]) << m;
    }
  }
  EXPECT_EQ(zef::quantize::AlphaCode(0, 0), 1);
  struct Case {
    int code, alphaValues, shown;
  } cases[] = {{0, 4, 0}, {1, 4, 85}, {2, 4, 170}, {3, 4, 255}, {0, 2, 0}, {1, 2, 255}, {1, 0, 255}};
  for (const Case& c : cases) {
    EXPECT_EQ(zef::quantize::ShownAlpha(uint8_t(c.code), c.alphaValues), c.shown) << c.code << "/" << c.alphaValues;
  }
}

// Refuses every allocation of new pixel memory while it is the default.
class NoMemory : public cv::MatAllocator {
 public:
  cv::UMatData* allocate(int, const int*, int, void*, size_t*, cv::AccessFlag,
                         cv::UMatUsageFlags) const override {
    throw std::bad_alloc();
  }
  bool allocate(cv::UMatData*, cv::AccessFlag, cv::UMatUsageFlags) const override { return false; }
  void deallocate(cv::UMatData* data) const override { cv::Mat::getStdAllocator()->deallocate(data); }
};

TEST(Quantize, RefusedInputAndLackOfMemoryGiveNoValue) {
  const cv::Mat image = Gradient(16);
  const cv::Mat mask = DiscMask(16);
  struct Case {
    const char* name;
    cv::Mat image, mask;
    ReduceOptions options;
  } cases[] = {
      {"four channels", cv::Mat(16, 16, CV_8UC4, cv::Scalar(0)), cv::Mat(), {}},
      {"16-bit channels", cv::Mat(16, 16, CV_16UC3, cv::Scalar(0)), cv::Mat(), {}},
      {"grey", cv::Mat(16, 16, CV_8UC1, cv::Scalar(0)), cv::Mat(), {}},
      {"mask of another size", image, FlatMask(16, 15, 255), {}},
      {"mask of three channels", image, image, {}},
      {"no colours", image, cv::Mat(), {0, Levels::kNearest, 0, 0, true}},
      {"too many colours", image, cv::Mat(), {257, Levels::kNearest, 0, 0, true}},
      {"three alpha values", image, mask, {64, Levels::kNearest, 0, 3, true}},
      {"negative dither", image, cv::Mat(), {256, Levels::kNearest, -0.5f, 0, true}},
      {"dither not a number", image, cv::Mat(), {256, Levels::kNearest, NAN, 0, true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(zef::quantize::Reduce(c.image, c.mask, c.options).has_value());
  }

  NoMemory noMemory;
  cv::MatAllocator* const previous = cv::Mat::getDefaultAllocator();
  cv::Mat::setDefaultAllocator(&noMemory);
  std::optional<ReduceResult> result;
  EXPECT_NO_THROW(result = zef::quantize::Reduce(image, mask, {64, Levels::kNearest, 0, 4, true}));
  // Later tests must not reach the refusing allocator once it is gone.
  cv::Mat::setDefaultAllocator(previous);
  EXPECT_FALSE(result.has_value());
  // An empty image is no fault: nothing to map.
  const auto empty = zef::quantize::Reduce(cv::Mat(0, 0, CV_8UC3), cv::Mat(), {});
  ASSERT_TRUE(empty.has_value());
  EXPECT_EQ(empty->colorsAfter, 0);
}

// --- RGBA palettes ------------------------------------------------------

cv::Mat Bgra(const cv::Mat& bgr, const cv::Mat& alpha) {
  std::vector<cv::Mat> channels;
  cv::split(bgr, channels);
  channels.push_back(alpha.empty() ? cv::Mat(bgr.size(), CV_8UC1, cv::Scalar(255)) : alpha);
  cv::Mat bgra;
  cv::merge(channels, bgra);
  return bgra;
}

// What a decoder shows for a palette image.
cv::Mat Shown(const zef::quantize::RgbaResult& result) {
  cv::Mat bgra(result.height, result.width, CV_8UC4);
  for (int y = 0; y < result.height; ++y) {
    for (int x = 0; x < result.width; ++x) {
      const auto& entry = result.palette.at(result.indices.at(size_t(y) * size_t(result.width) + size_t(x)));
      bgra.at<cv::Vec4b>(y, x) = cv::Vec4b(entry.blue, entry.green, entry.red, entry.alpha);
    }
  }
  return bgra;
}

// A soft icon: a gradient disc with anti-aliased edge and a faint shadow,
// transparent around it, its clear pixels in varying colours.
void SoftIcon(int side, cv::Mat& bgr, cv::Mat& alpha) {
  bgr = Gradient(side);
  alpha = cv::Mat(side, side, CV_8UC1);
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      const double r = std::hypot(x - side / 2.0, y - side / 2.0) / (side / 2.0);
      const double edge = std::clamp((0.75 - r) * 12, 0.0, 1.0);
      const double shadow = r < 0.95 ? 40 * (0.95 - r) : 0;
      alpha.at<uint8_t>(y, x) = uint8_t(std::lround(std::max(edge * 255, shadow)));
    }
  }
}

// Few colours far apart, some half transparent, and clear pixels of many colours.
void FewColours(cv::Mat& bgr, cv::Mat& alpha) {
  const cv::Vec4b colours[] = {{0, 0, 255, 255}, {255, 255, 255, 255}, {0, 0, 0, 128},
                               {40, 200, 90, 30}, {0, 0, 0, 0}, {9, 8, 7, 0}};
  bgr = cv::Mat(12, 18, CV_8UC3);
  alpha = cv::Mat(12, 18, CV_8UC1);
  for (int y = 0; y < 12; ++y) {
    for (int x = 0; x < 18; ++x) {
      const cv::Vec4b c = colours[(x / 3 + y) % 6];
      bgr.at<cv::Vec3b>(y, x) = cv::Vec3b(uint8_t(c[0] + (c[3] == 0 ? x : 0)), c[1], c[2]);
      alpha.at<uint8_t>(y, x) = c[3];
    }
  }
}

TEST(QuantizeRgba, PalettesKeepTheQualityAndCapContract) {
  cv::Mat iconBgr, iconAlpha, fewBgr, fewAlpha;
  SoftIcon(40, iconBgr, iconAlpha);
  FewColours(fewBgr, fewAlpha);
  const cv::Mat opaque = Gradient(32);
  const double kExact = std::numeric_limits<double>::infinity();
  struct Case {
    const char* what;
    const cv::Mat& bgr;
    const cv::Mat& alpha;
    double quality;
    int cap;
    int atMost;    // entries expected at most (the cap, or fewer)
    int atLeast;   // entries expected at least
  };
  const Case cases[] = {
      {"icon at 40 dB", iconBgr, iconAlpha, 40, 256, 256, 2},
      {"icon at 30 dB needs fewer", iconBgr, iconAlpha, 30, 256, 256, 2},
      {"icon capped at 8", iconBgr, iconAlpha, 40, 8, 8, 2},
      {"icon capped at 1: only the transparent entry", iconBgr, iconAlpha, 40, 1, 1, 1},
      {"icon exact beyond 256 colours: the cap's best", iconBgr, iconAlpha, kExact, 256, 256, 200},
      {"opaque gradient at 40 dB", opaque, cv::Mat(), 40, 256, 256, 2},
      {"opaque gradient capped at 16", opaque, cv::Mat(), 60, 16, 16, 16},
      // Five visible colours far apart and one transparent: no merge reaches 40 dB.
      {"few colours at 40 dB keep them", fewBgr, fewAlpha, 40, 256, 5, 5},
      {"few colours exact", fewBgr, fewAlpha, kExact, 256, 5, 5},
      {"few colours at 3 dB", fewBgr, fewAlpha, 3, 256, 4, 1},
  };
  for (const Case& c : cases) {
    zef::quantize::RgbaOptions options;
    options.quality = c.quality;
    options.maxColors = c.cap;
    const auto result = zef::quantize::ReduceRgba(c.bgr, c.alpha, options);
    ASSERT_TRUE(result) << c.what;
    const int entries = int(result->palette.size());
    EXPECT_LE(entries, c.atMost) << c.what;
    EXPECT_GE(entries, c.atLeast) << c.what;
    // The error it reports is what the composite measure finds.
    const cv::Mat source = Bgra(c.bgr, c.alpha);
    const zef::CompositeError measured = zef::CompositeErrorOf(source, Shown(*result));
    EXPECT_EQ(result->error.samples, measured.samples) << c.what;
    EXPECT_NEAR(result->error.squaredError, measured.squaredError, 1e-6 * (1 + measured.squaredError)) << c.what;
    if (entries < c.cap) EXPECT_GE(measured.Psnr(), c.quality) << c.what;
    EXPECT_EQ(result->reduced, measured.squaredError > 0) << c.what;
    // One alpha-0 entry at most, written 0, 0, 0, 0, and every clear pixel on it.
    int clearEntries = 0;
    for (const auto& entry : result->palette) {
      if (entry.alpha == 0) {
        ++clearEntries;
        EXPECT_EQ(entry, zef::quantize::RgbaEntry{}) << c.what;
      }
    }
    EXPECT_LE(clearEntries, 1) << c.what;
    for (size_t at = 0; at < result->indices.size(); ++at) {
      ASSERT_LT(result->indices[at], result->palette.size()) << c.what;
      if (!c.alpha.empty() && c.alpha.data[at] == 0) {
        EXPECT_EQ(result->palette[result->indices[at]].alpha, 0) << c.what;
      }
    }
  }
}

// What one visible pixel adds to the composite error when `shown` stands
// for `source` (BGRA).
double PixelSquares(const cv::Vec4b& source, const zef::quantize::RgbaEntry& shown) {
  const int to[3] = {shown.blue, shown.green, shown.red};
  double squares = 0;
  for (int c = 0; c < 3; ++c) {
    const double overBlack = (double(to[c]) * shown.alpha - double(source[c]) * source[3]) / 255.0;
    const double overWhite = overBlack - (double(shown.alpha) - source[3]);
    squares += overBlack * overBlack + overWhite * overWhite;
  }
  return squares;
}

TEST(QuantizeRgba, EveryVisibleColourEndsOnItsNearestEntry) {
  // Palettes of few colours per entry (refined from the split's boxes
  // alone) and of many (with a k-means pass), small and full.
  std::mt19937 random(11);
  cv::Mat iconBgr, iconAlpha;
  SoftIcon(44, iconBgr, iconAlpha);
  const cv::Mat noisy = RandomImage(random, 40, 36, 4000);
  cv::Mat ramp(36, 40, CV_8UC1);
  for (int p = 0; p < int(ramp.total()); ++p) ramp.at<uint8_t>(p) = uint8_t(p * 7);
  const double kExact = std::numeric_limits<double>::infinity();
  struct Case {
    const char* what;
    const cv::Mat& bgr;
    const cv::Mat& alpha;
    double quality;
    int cap;
  } cases[] = {
      {"icon at 40 dB", iconBgr, iconAlpha, 40, 256},
      {"icon at its best 256", iconBgr, iconAlpha, kExact, 256},
      {"icon capped at 12", iconBgr, iconAlpha, kExact, 12},
      {"noise with every alpha at its best 256", noisy, ramp, kExact, 256},
      {"noise with every alpha at 30 dB", noisy, ramp, 30, 256},
      {"noise capped at 40", noisy, ramp, kExact, 40},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    zef::quantize::RgbaOptions options;
    options.quality = c.quality;
    options.maxColors = c.cap;
    const auto result = zef::quantize::ReduceRgba(c.bgr, c.alpha, options);
    ASSERT_TRUE(result);
    ASSERT_GT(result->palette.size(), 1u);
    const cv::Mat source = Bgra(c.bgr, c.alpha);
    int farther = 0;
    for (int p = 0; p < int(source.total()); ++p) {
      const cv::Vec4b pixel = source.at<cv::Vec4b>(p);
      if (pixel[3] == 0) continue;
      const double taken = PixelSquares(pixel, result->palette[result->indices[size_t(p)]]);
      double nearest = taken;
      for (const auto& entry : result->palette) nearest = std::min(nearest, PixelSquares(pixel, entry));
      // The search measures in single precision.
      if (taken > nearest * (1 + 1e-4) + 1e-3) ++farther;
    }
    EXPECT_EQ(farther, 0);
  }
}

TEST(QuantizeRgba, AHigherQualityNeverTakesFewerEntries) {
  cv::Mat bgr, alpha;
  SoftIcon(40, bgr, alpha);
  size_t previous = 0;
  double previousPsnr = 0;
  for (double quality : {20.0, 30.0, 36.0, 40.0, 44.0, 50.0}) {
    zef::quantize::RgbaOptions options;
    options.quality = quality;
    const auto result = zef::quantize::ReduceRgba(bgr, alpha, options);
    ASSERT_TRUE(result);
    EXPECT_GE(result->palette.size(), previous) << quality;
    // Below the cap the quality is reached; at it, the cap's best.
    if (result->palette.size() < 256) EXPECT_GE(result->error.Psnr(), quality);
    EXPECT_GE(result->error.Psnr(), previousPsnr);
    previous = result->palette.size();
    previousPsnr = result->error.Psnr();
  }
  // Smooth colours reach a middling quality with far fewer entries than
  // they have colours.
  zef::quantize::RgbaOptions options;
  options.quality = 36;
  const auto result = zef::quantize::ReduceRgba(bgr, alpha, options);
  ASSERT_TRUE(result);
  EXPECT_LT(result->palette.size() * 4, size_t(result->colorsBefore));
}

TEST(QuantizeRgba, ExactColoursComeBackExactly) {
  cv::Mat bgr, alpha;
  FewColours(bgr, alpha);
  zef::quantize::RgbaOptions options;
  options.quality = std::numeric_limits<double>::infinity();
  const auto result = zef::quantize::ReduceRgba(bgr, alpha, options);
  ASSERT_TRUE(result);
  // Six colours, the two clear ones (of many blues) as one.
  EXPECT_EQ(result->colorsBefore, 5);
  EXPECT_EQ(result->palette.size(), 5u);
  EXPECT_FALSE(result->reduced);
  EXPECT_TRUE(std::isinf(result->error.Psnr()));
  cv::Mat shown = Shown(*result), source = Bgra(bgr, alpha);
  for (int y = 0; y < bgr.rows; ++y) {
    for (int x = 0; x < bgr.cols; ++x) {
      const cv::Vec4b s = source.at<cv::Vec4b>(y, x), d = shown.at<cv::Vec4b>(y, x);
      if (s[3] == 0) {
        EXPECT_EQ(d, cv::Vec4b(0, 0, 0, 0));
      } else {
        EXPECT_EQ(d, s);
      }
    }
  }
}

TEST(QuantizeRgba, ResultsDependOnlyOnTheInput) {
  cv::Mat bgr, alpha;
  SoftIcon(48, bgr, alpha);
  cv::Mat larger(60, 70, CV_8UC3, cv::Scalar(1, 2, 3)), largerAlpha(60, 70, CV_8UC1, cv::Scalar(7));
  bgr.copyTo(larger(cv::Rect(5, 6, 48, 48)));
  alpha.copyTo(largerAlpha(cv::Rect(5, 6, 48, 48)));
  for (int cap : {256, 12}) {
    zef::quantize::RgbaOptions options;
    options.maxColors = cap;
    const auto first = zef::quantize::ReduceRgba(bgr, alpha, options);
    const auto second = zef::quantize::ReduceRgba(bgr.clone(), alpha.clone(), options);
    const auto window = zef::quantize::ReduceRgba(larger(cv::Rect(5, 6, 48, 48)),
                                                  largerAlpha(cv::Rect(5, 6, 48, 48)), options);
    ASSERT_TRUE(first && second && window);
    for (const auto* other : {&*second, &*window}) {
      EXPECT_EQ(first->palette, other->palette);
      EXPECT_EQ(first->indices, other->indices);
      EXPECT_EQ(first->error.squaredError, other->error.squaredError);
    }
  }
}

TEST(QuantizeRgba, RefusedInputGivesNoValue) {
  const cv::Mat bgr = Gradient(8);
  zef::quantize::RgbaOptions good;
  EXPECT_TRUE(zef::quantize::ReduceRgba(bgr, cv::Mat(), good));
  for (int cap : {0, 257, -1}) {
    zef::quantize::RgbaOptions options;
    options.maxColors = cap;
    EXPECT_FALSE(zef::quantize::ReduceRgba(bgr, cv::Mat(), options)) << cap;
  }
  for (double quality : {-1.0, std::nan("")}) {
    zef::quantize::RgbaOptions options;
    options.quality = quality;
    EXPECT_FALSE(zef::quantize::ReduceRgba(bgr, cv::Mat(), options)) << quality;
  }
  EXPECT_FALSE(zef::quantize::ReduceRgba(cv::Mat(8, 8, CV_8UC4), cv::Mat(), good));
  EXPECT_FALSE(zef::quantize::ReduceRgba(bgr, cv::Mat(8, 9, CV_8UC1), good));
  EXPECT_FALSE(zef::quantize::ReduceRgba(bgr, cv::Mat(8, 8, CV_8UC3), good));
}

}  // namespace

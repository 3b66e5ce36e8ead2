// Version 4 through the public calls: indexed images and BGR images with
// masks come back exactly, the writer normalises palettes as its rules say,
// codes each line in the fewest bytes, and refuses what it cannot write.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "CoreArchives.h"
#include "Version4Archives.h"
#include "archive/ZefDecodeMat.h"
#include "archive/ZefFormat.h"
#include "writer/ZefEncode.h"

using namespace zeftest;

namespace {

zef::DecodeResult DecodedV4(const Bytes& archive) {
  zef::DecodeResult result = zef::Decode(archive.data(), archive.size());
  EXPECT_TRUE(result.Ok()) << result.message;
  EXPECT_EQ(result.info.version, 4);
  EXPECT_EQ(result.info.alphaBits, 8);
  return result;
}

struct Shape {
  const char* name;
  int width, height, entries, stretch;
};

const Shape kShapes[] = {
    {"one entry", 5, 3, 1, 1},
    {"two entries, one bit", 9, 4, 2, 2},
    {"three entries, two bits", 17, 3, 3, 1},
    {"five entries, three bits", 31, 5, 5, 2},
    {"sixteen entries, four bits", 40, 6, 16, 3},
    {"seventeen entries, five bits", 33, 7, 17, 1},
    {"forty entries, six bits", 100, 4, 40, 2},
    {"hundred entries, seven bits", 129, 3, 100, 1},
    {"all 256 entries, eight bits", 256, 4, 256, 1},
    {"width 1", 1, 40, 7, 3},
    {"long runs on the widest line", 65534, 2, 4, 9000},
    {"noise on a wide line", 3000, 1, 256, 1},
};

TEST(Version4RoundTrip, IndexedImagesComeBackExactly) {
  std::mt19937 random(4);
  for (const Shape& shape : kShapes) {
    SCOPED_TRACE(shape.name);
    const size_t pixels = size_t(shape.width) * size_t(shape.height);
    std::vector<uint8_t> indices = RandomIndices(random, pixels, shape.entries, shape.stretch);
    // Every entry used, so that the palette keeps them all.
    for (int n = 0; n < shape.entries && size_t(n) < pixels; ++n) indices[pixels - 1 - size_t(n)] = uint8_t(n);
    const zef::IndexedImage image = Indexed(shape.width, shape.height, DistinctEntries(shape.entries, random), indices);
    zef::Options options;
    options.startIndex = 70000;
    const Bytes archive = EncodedV4({image, image}, options);
    const zef::DecodeResult decoded = DecodedV4(archive);
    ASSERT_EQ(decoded.images.size(), 2u);
    EXPECT_EQ(decoded.info.startIndex, 70000u);
    for (size_t n = 0; n < 2; ++n) {
      ExpectShows(decoded.images[n], image);
      EXPECT_EQ(decoded.images[n].number, 70000u + n);
      EXPECT_EQ(decoded.images[n].paletteColours, uint32_t(shape.entries));
    }
    const Bytes block = V4Block(archive);
    int bits = 1;
    while ((1 << bits) < shape.entries) ++bits;
    EXPECT_EQ(block[0], bits);
    EXPECT_EQ(block[1], shape.entries - 1);
    EXPECT_EQ(decoded.images[0].dataBytes, block.size() + 2);
  }
}

TEST(Version4RoundTrip, BgrImagesWithMasksComeBackExactly) {
  std::mt19937 random(44);
  for (const bool withMasks : {true, false}) {
    SCOPED_TRACE(withMasks ? "masks" : "no masks");
    std::vector<cv::Mat> images, masks;
    for (int n = 0; n < 3; ++n) {
      const int width = 1 + int(random() % 90), height = 1 + int(random() % 12);
      images.push_back(RandomImage(random, width, height, 60));
      // opaque white, the brightest key, starts some rows
      for (int y = 0; y < height; y += 2) images.back().at<cv::Vec3b>(y, 0) = cv::Vec3b(255, 255, 255);
      cv::Mat mask(height, width, CV_8UC1);
      const uint8_t levels[] = {0, 1, 128, 200, 255};
      for (size_t p = 0; p < mask.total(); ++p) mask.data[p] = levels[random() % 5];
      if (withMasks) masks.push_back(mask);
    }
    zef::Options options;
    options.version = zef::kVersion4;
    std::vector<zef::ImageView> views;
    std::vector<zef::MaskView> maskViews;
    for (const cv::Mat& image : images) views.push_back({image.data, image.cols, image.rows, image.step[0]});
    for (const cv::Mat& mask : masks) maskViews.push_back({mask.data, mask.cols, mask.rows, mask.step[0]});
    const zef::EncodeResult encoded = zef::Encode(views, maskViews, options);
    ASSERT_TRUE(encoded.Ok()) << encoded.message;
    EXPECT_EQ(Encoded(images, masks, options), encoded.bytes);
    TempDir dir;
    ASSERT_TRUE(zef::EncodeToFile(dir / "v4.zef", views, maskViews, options).Ok());
    EXPECT_EQ(ReadFile(dir / "v4.zef"), encoded.bytes);

    const zef::DecodeResult decoded = DecodedV4(encoded.bytes);
    const zef::MatDecodeResult mats = zef::DecodeMats(encoded.bytes.data(), encoded.bytes.size());
    ASSERT_EQ(decoded.images.size(), 3u);
    ASSERT_EQ(mats.mats.size(), 3u);
    for (size_t n = 0; n < 3; ++n) {
      const zef::DecodedImage& image = decoded.images[n];
      EXPECT_EQ(mats.images[n].alphaCodes, image.alphaCodes);
      EXPECT_TRUE(std::equal(image.pixels.begin(), image.pixels.end(), mats.mats[n].data));
      for (size_t p = 0; p < images[n].total(); ++p) {
        const uint8_t alpha = withMasks ? masks[n].data[p] : 255;
        ASSERT_EQ(image.alphaCodes[p], alpha) << "pixel " << p;
        for (int c = 0; c < 3; ++c) {
          ASSERT_EQ(image.pixels[p * 3 + size_t(c)], alpha == 0 ? 0 : images[n].data[p * 3 + size_t(c)])
              << "pixel " << p;
        }
      }
    }
  }
}

std::vector<std::vector<int>> EntriesOf(const Bytes& block) {
  std::vector<std::vector<int>> entries;
  for (size_t n = 0; n <= block[1]; ++n) {
    entries.push_back({block[2 + 4 * n], block[3 + 4 * n], block[4 + 4 * n], block[5 + 4 * n]});
  }
  return entries;
}

TEST(Version4RoundTrip, WriterNormalisesThePalette) {
  struct Case {
    const char* name;
    zef::IndexedImage image;
    std::vector<std::vector<int>> entries;  // as written
  } cases[] = {
      {"invisible entries become one 0, 0, 0, 0 entry, first for its run",
       Indexed(6, 1, {Entry(9, 9, 9), Entry(1, 2, 3, 0), Entry(4, 5, 6, 0)}, {0, 1, 2, 1, 2, 0}),
       {{0, 0, 0, 0}, {9, 9, 9, 255}}},
      {"entry 0 covers the most pixels in runs, others by first appearance",
       Indexed(8, 2, {Entry(1, 1, 1), Entry(2, 2, 2), Entry(3, 3, 3)}, {0, 1, 0, 1, 2, 2, 2, 0,  //
                                                                        0, 1, 0, 1, 2, 1, 2, 2}),
       {{3, 3, 3, 255}, {1, 1, 1, 255}, {2, 2, 2, 255}}},
      {"equal runs: the first to appear",
       Indexed(4, 1, {Entry(5, 0, 0), Entry(6, 0, 0)}, {1, 1, 0, 0}), {{6, 0, 0, 255}, {5, 0, 0, 255}}},
      {"no runs at all: the first to appear",
       Indexed(3, 1, {Entry(5, 0, 0), Entry(6, 0, 0), Entry(7, 0, 0)}, {2, 0, 1}),
       {{7, 0, 0, 255}, {5, 0, 0, 255}, {6, 0, 0, 255}}},
      {"equal entries merge and unused ones go",
       Indexed(4, 1, {Entry(1, 2, 3), Entry(7, 7, 7), Entry(1, 2, 3), Entry(8, 8, 8)}, {0, 2, 3, 0}),
       {{1, 2, 3, 255}, {8, 8, 8, 255}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes archive = EncodedV4({c.image});
    EXPECT_EQ(EntriesOf(V4Block(archive)), c.entries);
    ExpectShows(DecodedV4(archive).images.at(0), c.image);
  }
}

// The fewest bytes of a line, the slow and plain way: every op ending at
// every pixel.
size_t FewestLineBytes(const std::vector<uint8_t>& line, int bits) {
  std::vector<size_t> cost(line.size() + 1, SIZE_MAX);
  cost[0] = 0;
  for (size_t x = 1; x <= line.size(); ++x) {
    for (size_t n = 1; n <= 128 && n <= x; ++n) {
      cost[x] = std::min(cost[x], cost[x - n] + 1 + (n * size_t(bits) + 7) / 8);
    }
    for (size_t n = 1; n <= 64 && n <= x && line[x - n] == line[x - 1]; ++n) {
      cost[x] = std::min(cost[x], cost[x - n] + (line[x - 1] == 0 ? 1 : 2));
    }
  }
  return cost.back();
}

// The ops of a line as the writer chooses them among codings of the fewest
// bytes, the slow and plain way: at each end the longest run first, then
// literals by the bit phase of their start (start * bits mod 8), of equal
// cost the longer; a later choice only when it is cheaper.
Bytes PlainLineOps(const std::vector<uint8_t>& line, int bits) {
  const size_t width = line.size();
  std::vector<size_t> cost(width + 1, 0), length(width + 1, 0);
  std::vector<bool> run(width + 1, false);
  size_t same = 0;
  for (size_t x = 1; x <= width; ++x) {
    same = x >= 2 && line[x - 2] == line[x - 1] ? same + 1 : 1;
    const size_t runLength = std::min<size_t>(same, 64);
    cost[x] = cost[x - runLength] + (line[x - 1] == 0 ? 1 : 2);
    length[x] = runLength;
    run[x] = true;
    for (size_t phase = 0; phase < 8; ++phase) {
      for (size_t j = x > 128 ? x - 128 : 0; j < x; ++j) {
        if (j * size_t(bits) % 8 != phase) continue;
        const size_t literal = cost[j] + 1 + ((x - j) * size_t(bits) + 7) / 8;
        if (literal < cost[x]) {
          cost[x] = literal;
          length[x] = x - j;
          run[x] = false;
        }
      }
    }
  }
  std::vector<size_t> ends;
  for (size_t x = width; x > 0; x -= length[x]) ends.push_back(x);
  Bytes ops;
  for (auto end = ends.rbegin(); end != ends.rend(); ++end) {
    const size_t first = *end - length[*end];
    if (run[*end]) {
      if (line[first] == 0) {
        ops.push_back(uint8_t(zef::kV4OpRunZero | (length[*end] - 1)));
      } else {
        ops.push_back(uint8_t(zef::kV4OpRun | (length[*end] - 1)));
        ops.push_back(line[first]);
      }
      continue;
    }
    ops.push_back(uint8_t(length[*end] - 1));
    uint32_t pending = 0;
    int pendingBits = 0;
    for (size_t x = first; x < *end; ++x) {
      pending = pending << bits | line[x];
      pendingBits += bits;
      if (pendingBits >= 8) {
        pendingBits -= 8;
        ops.push_back(uint8_t(pending >> pendingBits));
      }
    }
    if (pendingBits > 0) ops.push_back(uint8_t(pending << (8 - pendingBits)));
  }
  return ops;
}

TEST(Version4RoundTrip, EachLineTakesTheFewestBytes) {
  std::mt19937 random(404);
  for (int entries : {2, 3, 5, 9, 17, 33, 65, 129}) {
    for (int stretch : {1, 2, 5, 40}) {
      const int width = 1 + int(random() % 700);
      std::vector<uint8_t> line = RandomIndices(random, size_t(width), entries, stretch);
      line[0] = uint8_t(entries - 1);  // all indices bits are needed
      // The writer renumbers the entries; the plain count needs its numbers.
      const Bytes archive = EncodedV4({Indexed(width, 1, DistinctEntries(entries, random), line)});
      const Bytes block = V4Block(archive);
      const zef::DecodeResult decoded = DecodedV4(archive);
      auto written = std::vector<uint8_t>(size_t(width));
      const size_t entryCount = size_t(block[1]) + 1;
      for (size_t x = 0; x < written.size(); ++x) {
        for (size_t e = 0; e < entryCount; ++e) {
          if (decoded.images[0].pixels[x * 3 + 2] == block[2 + 4 * e]) written[x] = uint8_t(e);
        }
      }
      SCOPED_TRACE(testing::Message() << entries << " entries, stretch " << stretch << ", width " << width);
      EXPECT_EQ(block.size() - 2 - 4 * entryCount, FewestLineBytes(written, block[0]));
      // Of the codings that short, the one the tie rule picks, byte for byte.
      EXPECT_EQ(Bytes(block.begin() + std::ptrdiff_t(2 + 4 * entryCount), block.end()),
                PlainLineOps(written, block[0]));
    }
  }
}

TEST(Version4RoundTrip, RefusalsCarryTheirCodeAndMessage) {
  const zef::IndexedImage sound = Indexed(2, 1, {Entry(1, 1, 1)}, {0, 0});
  std::vector<zef::PaletteEntry> many;
  for (int n = 0; n < 257; ++n) many.push_back(Entry(uint8_t(n), uint8_t(n >> 8), 0));
  zef::Options limited;
  limited.archiveSizeLimit = 50;
  struct Case {
    const char* name;
    std::vector<zef::IndexedImage> images;
    zef::Options options;
    zef::Error error;
    std::string message;
  } cases[] = {
      {"no images", {}, {}, zef::Error::kBadInput, "no images"},
      {"index outside the palette", {sound, Indexed(2, 2, {Entry(1, 1, 1)}, {0, 0, 0, 1})}, {},
       zef::Error::kBadInput, "img 1: index 1 at pixel (1, 1) is outside its palette of 1 entries"},
      {"empty palette", {Indexed(1, 1, {}, {0})}, {}, zef::Error::kBadInput,
       "img 0: index 0 at pixel (0, 0) is outside its palette of 0 entries"},
      {"fewer indices than pixels", {Indexed(2, 2, {Entry(1, 1, 1)}, {0, 0, 0})}, {}, zef::Error::kBadInput,
       "img 0: 3 indices for 2 x 2 pixels"},
      {"no pixels", {Indexed(0, 3, {Entry(1, 1, 1)}, {})}, {}, zef::Error::kBadInput,
       "img 0: version 4 needs an image of at least one pixel (0 x 3)"},
      {"too wide", {Indexed(65535, 1, {Entry(1, 1, 1)}, std::vector<uint8_t>(65535))}, {}, zef::Error::kBadInput,
       "img 0: maximum width of an image is 65534"},
      {"257 different entries", {Indexed(1, 1, many, {0})}, {}, zef::Error::kPaletteTooBig,
       "img 0: palette too big (257 different entries, max 256)"},
      {"archive size limit", {sound, sound}, limited, zef::Error::kArchiveTooLarge,
       "ZefImgWriter: Write: archive too large (more than 50 bytes)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const zef::EncodeResult result = zef::EncodeIndexed(c.images, c.options);
    EXPECT_EQ(result.error, c.error);
    EXPECT_EQ(result.message, c.message);
    EXPECT_TRUE(result.bytes.empty());
  }
  // 257 entries of which alpha-0 ones merge to one: 256 remain.
  many[0].alpha = 0;
  many[1].alpha = 0;
  EXPECT_TRUE(zef::EncodeIndexed({Indexed(1, 1, many, {2})}, {}).Ok());
}

TEST(Version4RoundTrip, ColoursPastAPaletteAreRefused) {
  const cv::Mat image = ImageWithColours(257);
  const cv::Mat opaque = FlatMask(257, 1, 255);
  cv::Mat hidden = opaque.clone();
  hidden.at<uint8_t>(0, 256) = 0;
  hidden.at<uint8_t>(0, 255) = 0;
  zef::Options options;
  options.version = zef::kVersion4;
  const zef::EncodeResult refused = zef::EncodeMats({image}, {opaque}, options);
  EXPECT_EQ(refused.error, zef::Error::kPaletteTooBig);
  EXPECT_EQ(refused.message, "error: palette too big (more than 256 colours with their alpha, image 0)");
  // Two invisible pixels share one entry.
  EXPECT_TRUE(zef::EncodeMats({image}, {hidden}, options).Ok());
  // One colour at 257 alphas is as many entries.
  cv::Mat alphas(1, 257, CV_8UC1);
  for (int x = 0; x < 257; ++x) alphas.at<uint8_t>(0, x) = uint8_t(x < 256 ? x : 7);
  EXPECT_TRUE(zef::EncodeMats({FlatImage(257, 1, {1, 2, 3})}, {alphas}, options).Ok());
}

}  // namespace

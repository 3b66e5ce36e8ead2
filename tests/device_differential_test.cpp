// The device decoder against ZefImgReader, and for version 4 against the
// library core's decode: on archives that the writers make in every
// setting, both give the same pixels and the device gives each mask's
// alpha code; on damaged copies, both accept or refuse alike.
#include <gtest/gtest.h>

#include "DeviceArchives.h"
#include "Version4Archives.h"
#include "archive/ZefDecodeMat.h"
#include "archive/ZefImgReader.h"
#include "writer/ZefEncode.h"
#include "writer/ZefImgWriter.h"

using namespace zeftest;

namespace {

struct Setting {
  int version;
  int alphaValues;  // setAlpha; version 3 only
  bool masks;
};

// Every combination the writer accepts (setAlpha 0 takes no masks).
const Setting kSettings[] = {{2, 0, false}, {2, 0, true},  {3, 0, false}, {3, 2, false},
                             {3, 2, true},  {3, 4, false}, {3, 4, true}};

std::string Name(const Setting& s) {
  return "v" + std::to_string(s.version) + " alpha " + std::to_string(s.alphaValues) +
         (s.masks ? " masks" : "");
}

// Alpha bits the device reports, and the code a mask byte must come back as.
int AlphaBits(const Setting& s) {
  if (s.version == 2) return 4;
  if (!s.masks) return 0;
  return s.alphaValues == 2 ? 1 : 2;
}

int AlphaCode(const Setting& s, uint8_t maskByte) {
  if (s.version == 2) return maskByte >= zef::kTwoLevelThreshold ? 15 : 0;
  return maskByte >> (8 - AlphaBits(s));
}

struct Source {
  std::vector<cv::Mat> images;
  std::vector<cv::Mat> masks;
};

Source RandomSource(std::mt19937& random, const Setting& s, int imageCount) {
  const int colours = s.masks || s.alphaValues == 4 ? 64 : s.alphaValues == 2 ? 128 : 256;
  Source source;
  for (int i = 0; i < imageCount; ++i) {
    const int width = 1 + int(random() % 90), height = 1 + int(random() % 12);
    source.images.push_back(RandomImage(random, width, height, 1 + int(random() % colours)));
    if (s.masks) source.masks.push_back(RandomMask(random, width, height));
  }
  // one wide flat image, so that runs are cut at 255
  source.images.push_back(FlatImage(600, 2, {0x10, 0x80, 0xF0}));
  if (s.masks) source.masks.push_back(FlatMask(600, 2, 200));
  return source;
}

Bytes Write(const Setting& s, const Source& source, int32_t startIndex = 0) {
  zef::ZefImgWriter writer;
  writer.SetVersion(s.version);
  if (s.version == 3) writer.setAlpha(s.alphaValues);
  writer.SetStartIndex(startIndex);
  std::optional<Bytes> archive = writer.WriteMemory(source.images, source.masks);
  EXPECT_TRUE(archive.has_value()) << writer.GetError();
  return archive.value_or(Bytes{});
}

std::optional<std::vector<cv::Mat>> ReadWithReader(const Bytes& bytes) {
  zef::ZefImgReader reader;
  return reader.ReadMemory(bytes.data(), bytes.size());
}

bool IsVersion4(const Bytes& bytes) {
  return bytes.size() >= 5 && bytes[3] == zef::kVersion4 && bytes[4] == 0;
}

// What the desktop sees: the described reader's images, or for version 4
// (which that reader refuses) the library core's, with their 8-bit alpha.
struct Reference {
  std::vector<cv::Mat> images;
  std::vector<cv::Mat> alpha;  // version 4 only
};

std::optional<Reference> ReadReference(const Bytes& bytes) {
  if (!IsVersion4(bytes)) {
    auto images = ReadWithReader(bytes);
    if (!images) return std::nullopt;
    return Reference{std::move(*images), {}};
  }
  zef::MatDecodeResult decoded = zef::DecodeMats(bytes.data(), bytes.size());
  if (!decoded.Ok()) return std::nullopt;
  Reference out{std::move(decoded.mats), {}};
  for (size_t n = 0; n < out.images.size(); ++n) {
    out.alpha.push_back(cv::Mat(out.images[n].size(), CV_8UC1, decoded.images[n].alphaCodes.data()).clone());
  }
  return out;
}

// The 16-bit formats hold the BGR888 pixels cut to their bits.
void ExpectFormatsAgree(const zefdec_archive& archive, uint32_t index, const DeviceImage& bgr) {
  const DeviceImage rgb565 = DecodeWithDevice(archive, index, ZEFDEC_RGB565);
  const DeviceImage argb4444 = DecodeWithDevice(archive, index, ZEFDEC_ARGB4444);
  ASSERT_EQ(rgb565.result, ZEFDEC_OK);
  ASSERT_EQ(argb4444.result, ZEFDEC_OK);
  for (int y = 0; y < bgr.pixels.rows; ++y) {
    for (int x = 0; x < bgr.pixels.cols; ++x) {
      const cv::Vec3b p = bgr.pixels.at<cv::Vec3b>(y, x);
      const uint16_t expected565 = uint16_t((p[2] >> 3) << 11 | (p[1] >> 2) << 5 | p[0] >> 3);
      const uint16_t expected4444 = uint16_t((bgr.alpha.at<uint8_t>(y, x) >> 4) << 12 |
                                             (p[2] >> 4) << 8 | (p[1] >> 4) << 4 | p[0] >> 4);
      ASSERT_EQ(rgb565.pixels.at<uint16_t>(y, x), expected565) << x << "," << y;
      ASSERT_EQ(argb4444.pixels.at<uint16_t>(y, x), expected4444) << x << "," << y;
    }
  }
}

TEST(DeviceDifferential, RandomImagesInEveryWriterSetting) {
  std::mt19937 random(2024);
  for (const Setting& s : kSettings) {
    for (int trial = 0; trial < 6; ++trial) {
      SCOPED_TRACE(Name(s) + " trial " + std::to_string(trial));
      const Source source = RandomSource(random, s, 1 + trial % 3);
      const Bytes bytes = Write(s, source, 40 + trial);
      zef::ZefImgReader reader;
      const auto expected = reader.ReadMemory(bytes.data(), bytes.size());
      ASSERT_TRUE(expected.has_value()) << reader.GetError();

      ExpectArchiveIdsAgree(bytes);
      zefdec_archive archive;
      ASSERT_EQ(zefdec_open(&archive, bytes.data(), bytes.size()), ZEFDEC_OK);
      ASSERT_EQ(zefdec_count(&archive), expected->size());
      for (uint32_t i = 0; i < zefdec_count(&archive); ++i) {
        zefdec_image_info info{};
        ASSERT_EQ(zefdec_info(&archive, i, &info), ZEFDEC_OK);
        EXPECT_EQ(info.number, reader.GetStartIndex() + i);
        EXPECT_EQ(int(info.alpha_bits), AlphaBits(s));
        const DeviceImage image = DecodeWithDevice(archive, i, ZEFDEC_BGR888);
        ASSERT_EQ(image.result, ZEFDEC_OK);
        ASSERT_EQ(image.pixels.size(), (*expected)[i].size());
        EXPECT_EQ(cv::norm(image.pixels, (*expected)[i], cv::NORM_INF), 0) << "image " << i;

        for (int y = 0; y < image.alpha.rows; ++y) {
          for (int x = 0; x < image.alpha.cols; ++x) {
            const int alpha = image.alpha.at<uint8_t>(y, x);
            if (s.masks) {
              ASSERT_EQ(alpha >> (8 - AlphaBits(s)), AlphaCode(s, source.masks[i].at<uint8_t>(y, x)))
                  << "image " << i << " at " << x << "," << y;
            } else {
              ASSERT_EQ(alpha, 255);
            }
          }
        }
        ExpectFormatsAgree(archive, i, image);
      }
    }
  }
}

// Lines in every format, spans, and the archive behind a callback all
// give the library's pixels and alpha; RGB565 and ARGB4444 keep the top
// bits of the 8-bit channels.
void ExpectDeviceShowsVersion4(const Bytes& bytes, const std::string& what) {
  SCOPED_TRACE(what);
  const zef::MatDecodeResult expected = zef::DecodeMats(bytes.data(), bytes.size());
  ASSERT_TRUE(expected.Ok()) << expected.message;
  zefdec_archive archive, flashArchive;
  ASSERT_EQ(zefdec_open(&archive, bytes.data(), bytes.size()), ZEFDEC_OK);
  FlashArchive flash(bytes);
  ASSERT_EQ(flash.Open(flashArchive), ZEFDEC_OK);
  ASSERT_EQ(zefdec_count(&archive), expected.mats.size());
  for (uint32_t i = 0; i < zefdec_count(&archive); ++i) {
    const zef::DecodedImage& decoded = expected.images[i];
    const cv::Mat alpha(expected.mats[i].size(), CV_8UC1, const_cast<uint8_t*>(decoded.alphaCodes.data()));
    zefdec_image_info info{};
    ASSERT_EQ(zefdec_info(&archive, i, &info), ZEFDEC_OK);
    EXPECT_EQ(info.number, decoded.number);
    EXPECT_EQ(info.alpha_bits, 8);
    const DeviceImage image = DecodeWithDevice(archive, i, ZEFDEC_BGR888);
    ASSERT_EQ(image.result, ZEFDEC_OK) << "image " << i;
    ASSERT_EQ(cv::norm(image.pixels, expected.mats[i], cv::NORM_INF), 0) << "image " << i;
    ASSERT_EQ(cv::norm(image.alpha, alpha, cv::NORM_INF), 0) << "image " << i;
    ExpectFormatsAgree(archive, i, image);
    for (const zefdec_format format : {ZEFDEC_RGB565, ZEFDEC_ARGB4444, ZEFDEC_BGR888}) {
      const DeviceImage lines = DecodeWithDevice(archive, i, format);
      for (const zefdec_archive* from : {&archive, &flashArchive}) {
        const DeviceImage spans = DecodeWithSpans(*from, i, format);
        ASSERT_EQ(spans.result, ZEFDEC_OK);
        ASSERT_EQ(cv::norm(spans.pixels, lines.pixels, cv::NORM_INF), 0) << "format " << format;
        ASSERT_EQ(cv::norm(spans.alpha, lines.alpha, cv::NORM_INF), 0) << "format " << format;
      }
      const DeviceImage fromFlash = DecodeWithDevice(flashArchive, i, format);
      ASSERT_EQ(fromFlash.result, ZEFDEC_OK);
      ASSERT_EQ(cv::norm(fromFlash.pixels, lines.pixels, cv::NORM_INF), 0) << "format " << format;
      ASSERT_EQ(cv::norm(fromFlash.alpha, lines.alpha, cv::NORM_INF), 0) << "format " << format;
    }
  }
  EXPECT_FALSE(flash.outside);
  ExpectArchiveIdsAgree(bytes);
}

TEST(DeviceDifferential, Version4AsTheWriterMakesIt) {
  std::mt19937 random(404);
  // entry counts for every index width, and stretches from noise to long runs
  for (const int entries : {1, 2, 3, 4, 5, 9, 16, 17, 40, 64, 65, 129, 256}) {
    for (const int stretch : {1, 4, 40}) {
      std::vector<zef::IndexedImage> images;
      for (int n = 0; n < 3; ++n) {
        // widths past one literal (128) and past the reader's window
        const int width = 1 + int(random() % (n == 0 ? 300 : 40)), height = 1 + int(random() % 5);
        std::vector<zef::PaletteEntry> palette;
        for (int e = 0; e < entries; ++e) {
          const uint32_t kind = random() % 3;
          palette.push_back({uint8_t(random()), uint8_t(random()), uint8_t(e),
                             uint8_t(kind == 0 ? 0 : kind == 1 ? 255 : random() % 256)});
        }
        images.push_back({width, height, palette,
                          RandomIndices(random, size_t(width) * size_t(height), entries, stretch)});
      }
      zef::Options options;
      options.startIndex = entries * 100;
      const zef::EncodeResult result = zef::EncodeIndexed(images, options);
      ASSERT_TRUE(result.Ok()) << result.message;
      ExpectDeviceShowsVersion4(result.bytes, std::to_string(entries) + " entries, stretch " + std::to_string(stretch));
    }
  }
}

TEST(DeviceDifferential, Version4OfAnyOps) {
  std::mt19937 random(4004);
  for (uint32_t bits = 1; bits <= 8; ++bits) {
    for (int trial = 0; trial < 4; ++trial) {
      const std::vector<V4Entry> entries = RandomV4Entries(random, 1 + random() % (1u << bits));
      std::vector<V4Entry> shown;
      std::vector<ImageSpec> images;
      for (int n = 0; n < 2; ++n) {
        const uint32_t width = 1 + random() % 400, height = 1 + random() % 4;
        images.push_back({width, height, RandomV4Data(random, width, height, bits, entries, shown)});
      }
      ExpectDeviceShowsVersion4(ArchiveV4(uint32_t(random()), images),
                                std::to_string(bits) + " bits, trial " + std::to_string(trial));
    }
  }
}

// Archives of every kind the reader reads: the writer's settings, and the
// version 1 and raw forms that only hand-built archives hold.
std::vector<Bytes> SampleArchives() {
  std::mt19937 random(99);
  std::vector<Bytes> archives;
  for (const Setting& s : kSettings) {
    Source source;
    for (int i = 0; i < 2; ++i) {
      source.images.push_back(RandomImage(random, 5 + i, 2, 4));
      if (s.masks) source.masks.push_back(RandomMask(random, 5 + i, 2));
    }
    archives.push_back(Write(s, source, 3));
  }
  Bytes raw;
  for (uint16_t word : {0xF123, 0x0456, 0x8789, 0xFABC}) PutU16(raw, word);
  archives.push_back(ArchiveV1(zef::kVersion1Header, {2, 2, raw}));
  const Bytes firstHalf(raw.begin(), raw.begin() + 4), secondHalf(raw.begin() + 4, raw.end());
  archives.push_back(ArchiveV2(WordHeader(0), {{2, 1, firstHalf}, {1, 2, secondHalf}}));
  zef::HeaderBytes runs = zef::kVersion1Header;
  runs.compressionFlag = 1;
  archives.push_back(ArchiveV1(runs, {4, 2, RunData({{{0xF123, 3}, {0x0456, 1}}, {{0x8789, 4}}}, true)}));
  // version 4 as the writer makes it, and hand-built with every kind of op
  // at index widths that cross byte boundaries
  std::vector<zef::IndexedImage> indexed;
  for (const int entries : {3, 20}) {
    std::vector<zef::PaletteEntry> palette = {{0, 0, 0, 0}};
    for (int n = 1; n < entries; ++n) palette.push_back({uint8_t(n * 9), uint8_t(random()), 200, uint8_t(n * 12)});
    std::vector<uint8_t> indices(14);
    for (uint8_t& index : indices) index = random() % 3 ? uint8_t(random() % entries) : 0;
    indexed.push_back({7, 2, palette, indices});
  }
  zef::Options options;
  options.startIndex = 9;
  archives.push_back(zef::EncodeIndexed(indexed, options).bytes);
  for (const uint32_t bits : {3u, 7u}) {
    const std::vector<V4Entry> entries = RandomV4Entries(random, (1u << bits) - 2);
    std::vector<V4Entry> shown;
    archives.push_back(ArchiveV4(1, {{5, 2, RandomV4Data(random, 5, 2, bits, entries, shown)},
                                     {3, 1, RandomV4Data(random, 3, 1, bits, entries, shown)}}));
  }
  return archives;
}

// The archive read through a callback gives every result of the archive in
// memory, pixels and alpha, opened with and without the whole-archive
// check, and reads nothing outside it.
void ExpectReaderAgrees(const Bytes& bytes, const std::string& what) {
  for (const unsigned flags : {0u, ZEFDEC_TRUSTED}) {
    zefdec_archive memory, flash;
    FlashArchive source(bytes);
    const uint8_t none = 0;  // an empty vector's data() is no archive pointer
    const int result =
        zefdec_open_with(&memory, bytes.empty() ? &none : bytes.data(), bytes.size(), flags);
    ASSERT_EQ(source.Open(flash, flags), result) << what << " flags " << flags;
    for (uint32_t i = 0; result == ZEFDEC_OK && i < zefdec_count(&memory); ++i) {
      zefdec_image_info info{};
      ASSERT_EQ(zefdec_info(&memory, i, &info), ZEFDEC_OK);
      if (size_t(info.width) * info.height > 1 << 20) continue;  // announced, not there
      const DeviceImage inMemory = DecodeWithDevice(memory, i, ZEFDEC_BGR888);
      const DeviceImage inFlash = DecodeWithDevice(flash, i, ZEFDEC_BGR888);
      ASSERT_EQ(inFlash.result, inMemory.result) << what << " image " << i;
      // a draw of every line, whole or clipped at both sides, onto a
      // canvas of either pixel size, finds the fault that decoding finds
      for (const zefdec_canvas_format format : {ZEFDEC_CANVAS_RGB565, ZEFDEC_CANVAS_XRGB8888}) {
        for (const uint32_t clip : {0u, 1u}) {
          if (info.width <= 2 * clip) continue;
          Canvas canvas(format, info.width - 2 * clip, info.height, (info.width - 2 * clip) * 4, i);
          zefdec_canvas view = canvas.View();
          for (const zefdec_archive* archive : {&memory, &flash}) {
            EXPECT_EQ(zefdec_draw(archive, i, &view, -int32_t(clip), 0), inMemory.result)
                << what << " image " << i << " format " << format << " clip " << clip;
          }
        }
      }
      if (inMemory.result == ZEFDEC_OK) {
        ASSERT_EQ(cv::norm(inFlash.pixels, inMemory.pixels, cv::NORM_INF), 0) << what;
        ASSERT_EQ(cv::norm(inFlash.alpha, inMemory.alpha, cv::NORM_INF), 0) << what;
      }
    }
    ASSERT_FALSE(source.outside) << what;
    ASSERT_EQ(source.MisalignedRead(), "") << what;
  }
}

// Both judge the bytes alike, and where both accept, they agree on every pixel.
void ExpectSameJudgement(const Bytes& bytes, const std::string& what) {
  ExpectReaderAgrees(bytes, what);
  const auto expected = ReadReference(bytes);
  zefdec_archive archive;
  const int result = zefdec_open(&archive, bytes.data(), bytes.size());
  ASSERT_EQ(result == ZEFDEC_OK, expected.has_value()) << what << ": device " << result;
  if (!expected) return;
  ASSERT_EQ(zefdec_count(&archive), expected->images.size()) << what;
  for (uint32_t i = 0; i < zefdec_count(&archive); ++i) {
    const DeviceImage image = DecodeWithDevice(archive, i, ZEFDEC_BGR888);
    ASSERT_EQ(image.result, ZEFDEC_OK) << what;
    ASSERT_EQ(image.pixels.size(), expected->images[i].size()) << what;
    if (!image.pixels.empty()) {
      ASSERT_EQ(cv::norm(image.pixels, expected->images[i], cv::NORM_INF), 0) << what << " image " << i;
    }
    if (!expected->alpha.empty()) {
      ASSERT_EQ(cv::norm(image.alpha, expected->alpha[i], cv::NORM_INF), 0) << what << " image " << i;
    }
  }
}

TEST(DeviceDifferential, EveryTruncationIsRefusedByBoth) {
  for (const Bytes& good : SampleArchives()) {
    ASSERT_TRUE(ReadReference(good).has_value());
    for (size_t size = 0; size < good.size(); ++size) {
      const Bytes cut(good.begin(), good.begin() + size);
      ExpectSameJudgement(cut, "cut to " + std::to_string(size));
      zefdec_archive archive;
      EXPECT_NE(zefdec_open(&archive, cut.data(), cut.size()), ZEFDEC_OK) << size;
    }
  }
}

TEST(DeviceDifferential, EveryChangedByteIsJudgedAlike) {
  int archiveNumber = 0;
  for (const Bytes& good : SampleArchives()) {
    for (size_t at = 0; at < good.size(); ++at) {
      for (uint8_t change : {0x01, 0x02, 0x10, 0x80, 0xFF}) {
        Bytes bytes = good;
        bytes[at] ^= change;
        ExpectSameJudgement(bytes, "archive " + std::to_string(archiveNumber) + " byte " +
                                       std::to_string(at) + " ^ " + std::to_string(change));
      }
      for (uint8_t value : {0x00, 0xFF}) {
        Bytes bytes = good;
        bytes[at] = value;
        ExpectSameJudgement(bytes, "archive " + std::to_string(archiveNumber) + " byte " +
                                       std::to_string(at) + " = " + std::to_string(value));
      }
    }
    ++archiveNumber;
  }
}

TEST(DeviceDifferential, SeveralChangedBytesAreJudgedAlike) {
  std::mt19937 random(5);
  const std::vector<Bytes> archives = SampleArchives();
  for (int trial = 0; trial < 3000; ++trial) {
    Bytes bytes = archives[random() % archives.size()];
    const int changes = 2 + int(random() % 3);
    for (int c = 0; c < changes; ++c) bytes[random() % bytes.size()] = uint8_t(random());
    ExpectSameJudgement(bytes, "trial " + std::to_string(trial));
  }
}

// Archives to draw, each with the 8-bit alpha every pixel must be blended
// with: the writer's settings (alpha from the masks), and hand-built ones
// for what the writer does not make (alpha at the low end, colour words).
struct DrawCase {
  std::string name;
  Bytes bytes;
  std::vector<cv::Mat> alpha;
};

uint8_t Widened(int code, int bits) { return bits == 0 ? 255 : uint8_t(code * 255 / ((1 << bits) - 1)); }

// Sizes that clip on every canvas below, and one with runs cut at 255, and one tall enough for bands.
const cv::Size kDrawSizes[] = {{1, 1}, {9, 4}, {300, 2}, {6, 23}};

// Random runs across `width`, with an empty run now and then.
template <typename ValueOf>
Line RandomLine(std::mt19937& random, uint32_t width, ValueOf valueOf) {
  Line line;
  for (uint32_t x = 0; x < width;) {
    const uint32_t length = random() % 9 == 0 ? 0 : 1 + random() % std::min(width - x, 255u);
    line.push_back({valueOf(), uint8_t(length)});
    x += length;
  }
  return line;
}

// Version 3 pixel codes of `bits` alpha bits at either end.
DrawCase HandBuiltCodes(std::mt19937& random, int bits, uint8_t position) {
  const bool low = position == zef::kAlphaPositionLow;
  std::vector<uint16_t> palette(1 + random() % (256 >> bits));
  for (uint16_t& colour : palette) colour = uint16_t(random());
  DrawCase c{"v3 " + std::to_string(bits) + " alpha bits " + (low ? "low" : "high"), {}, {}};
  std::vector<ImageSpec> images;
  for (const cv::Size size : kDrawSizes) {
    cv::Mat alpha(size, CV_8UC1);
    std::vector<Line> lines;
    for (int y = 0; y < size.height; ++y) {
      lines.push_back(RandomLine(random, uint32_t(size.width), [&] {
        const uint32_t index = random() % palette.size(), code = random() % (1u << bits);
        return uint16_t(low ? index << bits | code : code << (8 - bits) | index);
      }));
      int x = 0;
      for (const Run& run : lines.back()) {
        const int code = low ? run.value & ((1 << bits) - 1) : run.value >> (8 - bits);
        for (int n = 0; n < run.length; ++n) alpha.at<uint8_t>(y, x++) = Widened(code, bits);
      }
    }
    images.push_back({uint32_t(size.width), uint32_t(size.height), RunData(lines)});
    c.alpha.push_back(alpha);
  }
  c.bytes = ArchiveV3(CodeHeader(uint8_t(bits), zef::kAlphaModeGraded, position), 0, images, {palette});
  return c;
}

// Version 2 colour words, run-length or raw, alpha nibble at either end.
DrawCase HandBuiltWords(std::mt19937& random, bool runs, uint8_t position) {
  const bool low = position == zef::kAlphaPositionLow;
  DrawCase c{std::string("v2 words ") + (runs ? "runs " : "raw ") + (low ? "low" : "high"), {}, {}};
  std::vector<ImageSpec> images;
  for (const cv::Size size : kDrawSizes) {
    cv::Mat alpha(size, CV_8UC1);
    std::vector<Line> lines;
    Bytes raw;
    for (int y = 0; y < size.height; ++y) {
      lines.push_back(RandomLine(random, uint32_t(size.width), [&] { return uint16_t(random()); }));
      int x = 0;
      for (const Run& run : lines.back()) {
        const int code = low ? run.value & 15 : run.value >> 12;
        for (int n = 0; n < run.length; ++n) {
          alpha.at<uint8_t>(y, x++) = Widened(code, 4);
          PutU16(raw, run.value);
        }
      }
    }
    images.push_back({uint32_t(size.width), uint32_t(size.height), runs ? RunData(lines, true) : raw});
    c.alpha.push_back(alpha);
  }
  c.bytes = ArchiveV2(WordHeader(runs ? 1 : 0, position), images);
  return c;
}

// Version 4 of random ops, entry 0 and the entries of alpha 0 of any colour.
DrawCase HandBuiltOps(std::mt19937& random, uint32_t bits) {
  DrawCase c{"v4 ops of " + std::to_string(bits) + " bits", {}, {}};
  std::vector<V4Entry> entries(1 + random() % (1u << bits));
  for (V4Entry& e : entries) {
    const uint32_t kind = random() % 3;  // transparent, opaque or between
    e = {uint8_t(random()), uint8_t(random()), uint8_t(random()),
         uint8_t(kind == 0 ? 0 : kind == 1 ? 255 : 1 + random() % 254)};
  }
  std::vector<ImageSpec> images;
  for (const cv::Size size : kDrawSizes) {
    std::vector<V4Entry> shown;
    images.push_back({uint32_t(size.width), uint32_t(size.height),
                      RandomV4Data(random, uint32_t(size.width), uint32_t(size.height), bits, entries, shown)});
    c.alpha.push_back(cv::Mat(size, CV_8UC1));
    for (size_t n = 0; n < shown.size(); ++n) c.alpha.back().at<uint8_t>(int(n)) = shown[n].alpha;
  }
  c.bytes = ArchiveV4(0, images);
  return c;
}

// Version 4 as the writer makes it: transparent margins, soft and opaque pixels.
DrawCase WrittenOps(std::mt19937& random, int entryCount) {
  DrawCase c{"v4 written, " + std::to_string(entryCount) + " entries", {}, {}};
  std::vector<zef::PaletteEntry> palette = {{0, 0, 0, 0}};
  for (int n = 1; n < entryCount; ++n) {
    palette.push_back({uint8_t(random()), uint8_t(random()), uint8_t(n), uint8_t(n % 2 ? 255 : random() % 256)});
  }
  std::vector<zef::IndexedImage> images;
  for (const cv::Size size : kDrawSizes) {
    std::vector<uint8_t> indices(size.area());
    uint8_t index = 0;
    for (uint8_t& i : indices) {
      if (random() % 3 == 0) index = random() % 2 ? 0 : uint8_t(random() % entryCount);
      i = index;
    }
    images.push_back({size.width, size.height, palette, indices});
    cv::Mat alpha(size, CV_8UC1);
    for (size_t n = 0; n < indices.size(); ++n) alpha.at<uint8_t>(int(n)) = palette[indices[n]].alpha;
    c.alpha.push_back(alpha);
  }
  c.bytes = zef::EncodeIndexed(images, {}).bytes;
  return c;
}

std::vector<DrawCase> DrawCases() {
  std::mt19937 random(77);
  std::vector<DrawCase> cases;
  for (const Setting& s : kSettings) {
    Source source;
    DrawCase c{Name(s), {}, {}};
    for (const cv::Size size : kDrawSizes) {
      source.images.push_back(RandomImage(random, size.width, size.height, 8));
      source.masks.push_back(RandomMask(random, size.width, size.height));
      cv::Mat alpha(size, CV_8UC1, cv::Scalar(255));
      if (s.masks) {
        source.masks.back().forEach<uint8_t>([&](uint8_t& mask, const int* at) {
          alpha.at<uint8_t>(at[0], at[1]) = Widened(AlphaCode(s, mask), AlphaBits(s));
        });
      }
      c.alpha.push_back(alpha);
    }
    if (!s.masks) source.masks.clear();
    c.bytes = Write(s, source);
    cases.push_back(c);
  }
  for (uint8_t position : {zef::kAlphaPositionHigh, zef::kAlphaPositionLow}) {
    for (int bits : {1, 2}) cases.push_back(HandBuiltCodes(random, bits, position));
    for (bool runs : {true, false}) cases.push_back(HandBuiltWords(random, runs, position));
  }
  for (uint32_t bits = 1; bits <= 8; ++bits) cases.push_back(HandBuiltOps(random, bits));
  for (const int entries : {2, 7, 256}) cases.push_back(WrittenOps(random, entries));
  return cases;
}

// Positions against every edge: fully outside, one pixel in, exactly at
// the edge, one past, and the extremes of the coordinate type.
std::vector<int32_t> EdgePositions(int32_t size, int32_t room) {
  return {INT32_MIN, -size - 1, -size, -size + 1, -1, 0, 1, room - size, room - size + 1,
          room - 1, room, INT32_MAX};
}

// Every canvas format, and the options that change what a draw blends:
// opacity at its ends and between, recolouring with and without it, and
// the Bayer dither (which changes only canvases of fewer than 8 bits).
const zefdec_canvas_format kCanvasFormats[] = {
    ZEFDEC_CANVAS_RGB565, ZEFDEC_CANVAS_RGB565_SWAPPED, ZEFDEC_CANVAS_XRGB8888, ZEFDEC_CANVAS_BGR565,
    ZEFDEC_CANVAS_BGR565_SWAPPED, ZEFDEC_CANVAS_RGB888, ZEFDEC_CANVAS_BGR888, ZEFDEC_CANVAS_ARGB8888,
    ZEFDEC_CANVAS_L8, ZEFDEC_CANVAS_L4, ZEFDEC_CANVAS_L2, ZEFDEC_CANVAS_L1, ZEFDEC_CANVAS_L1_PAGES};

struct DrawOptionCase {
  const char* name;
  zefdec_draw_options options;
};
const DrawOptionCase kDrawOptions[] = {
    {"zefdec_draw", ZEFDEC_DRAW_OPTIONS_DEFAULT},
    {"defaults", ZEFDEC_DRAW_OPTIONS_DEFAULT},
    {"opacity 128", {128, 0, ZEFDEC_DITHER_THRESHOLD, 0}},
    {"opacity 1", {1, 0, ZEFDEC_DITHER_THRESHOLD, 0}},
    {"opacity 0", {0, 0, ZEFDEC_DITHER_THRESHOLD, 0}},
    {"recolour", {255, 1, ZEFDEC_DITHER_THRESHOLD, 0x3399CC}},
    {"recolour, opacity 200", {200, 1, ZEFDEC_DITHER_THRESHOLD, 0xFFFFFF}},
    {"bayer", {255, 0, ZEFDEC_DITHER_BAYER, 0}},
    {"bayer, recolour, opacity 90", {90, 1, ZEFDEC_DITHER_BAYER, 0x808080}},
};

TEST(DeviceDifferential, DrawsTheReadersPixelsBlendedOntoEveryCanvas) {
  struct Shape {
    uint32_t width, height, padding;  // padding: pixels (packed grey: bytes) beyond a row
  };
  const Shape shapes[] = {{1, 1, 0}, {1, 1, 3}, {7, 5, 0}, {40, 12, 5}};
  uint32_t seed = 0;
  for (const DrawCase& c : DrawCases()) {
    SCOPED_TRACE(c.name);
    const auto expected = ReadReference(c.bytes);
    ASSERT_TRUE(expected.has_value());
    zefdec_archive archive;
    ASSERT_EQ(zefdec_open(&archive, c.bytes.data(), c.bytes.size()), ZEFDEC_OK);
    FlashArchive flash(c.bytes);
    zefdec_archive flashArchive;
    ASSERT_EQ(flash.Open(flashArchive, ZEFDEC_TRUSTED), ZEFDEC_OK);
    for (uint32_t i = 0; i < zefdec_count(&archive); ++i) {
      const cv::Mat& image = expected->images[i];
      if (!expected->alpha.empty()) {
        ASSERT_EQ(cv::norm(expected->alpha[i], c.alpha[i], cv::NORM_INF), 0);
      }
      for (const zefdec_canvas_format format : kCanvasFormats) {
        for (const DrawOptionCase& o : kDrawOptions) {
          const bool plain = &o == &kDrawOptions[0];
          const auto draw = [&](const zefdec_archive& from, const zefdec_canvas& view, int32_t x, int32_t y) {
            return plain ? zefdec_draw(&from, i, &view, x, y) : zefdec_draw_with(&from, i, &view, x, y, &o.options);
          };
          for (const Shape& shape : shapes) {
            const uint32_t stride =
                RowBytes(format, shape.width) + shape.padding * std::max(LayoutOf(format).bytes, 1u);
            // every edge with the plain draw; with options, a few places that clip
            const std::vector<int32_t> columns =
                plain ? EdgePositions(image.cols, int32_t(shape.width))
                      : std::vector<int32_t>{-1, 0, 3, int32_t(shape.width) - image.cols + 1};
            const std::vector<int32_t> rows =
                plain ? EdgePositions(image.rows, int32_t(shape.height))
                      : std::vector<int32_t>{-1, 0, 2, int32_t(shape.height) - image.rows + 1};
            for (const int32_t x : columns) {
              for (const int32_t y : rows) {
                Canvas canvas(format, shape.width, shape.height, stride, ++seed);
                Canvas reference = canvas;
                const zefdec_canvas view = canvas.View();
                ASSERT_EQ(draw(archive, view, x, y), ZEFDEC_OK);
                DrawReference(reference, image, c.alpha[i], x, y, &o.options);
                Canvas fromFlash(format, shape.width, shape.height, stride, seed);
                const zefdec_canvas flashView = fromFlash.View();
                ASSERT_EQ(draw(flashArchive, flashView, x, y), ZEFDEC_OK);
                ASSERT_EQ(fromFlash.storage, canvas.storage);
                ASSERT_EQ(canvas.storage, reference.storage)
                    << "image " << i << ", format " << format << ", " << o.name << ", canvas "
                    << shape.width << "x" << shape.height << " stride " << stride << ", at " << x << "," << y;
              }
            }
          }
        }
      }
    }
  }
}

}  // namespace

// Draws image `i` onto `canvas` at (x, y) through windows of the rows in
// `bands` (top row, height), in the order given.
void DrawInBands(const zefdec_archive& archive, uint32_t i, Canvas& canvas, int32_t x, int32_t y,
                 const std::vector<std::pair<uint32_t, uint32_t>>& bands) {
  for (const auto& [top, height] : bands) {
    const zefdec_canvas window = {canvas.Bytes() + size_t(top) * canvas.stride, canvas.width, height,
                                  canvas.stride, canvas.format};
    ASSERT_EQ(zefdec_draw(&archive, i, &window, x, y - int32_t(top)), ZEFDEC_OK) << "band at " << top;
  }
}

std::vector<std::pair<uint32_t, uint32_t>> Bands(uint32_t rows, uint32_t height) {
  std::vector<std::pair<uint32_t, uint32_t>> bands;
  for (uint32_t top = 0; top < rows; top += height) bands.push_back({top, std::min(height, rows - top)});
  return bands;
}

TEST(DeviceDifferential, BandsOfAnyHeightInAnyOrderDrawWhatOneDrawDoes) {
  uint32_t seed = 0;
  for (const DrawCase& c : DrawCases()) {
    SCOPED_TRACE(c.name);
    zefdec_archive archive;
    ASSERT_EQ(zefdec_open(&archive, c.bytes.data(), c.bytes.size()), ZEFDEC_OK);
    FlashArchive flash(c.bytes);
    zefdec_archive flashArchive;
    ASSERT_EQ(flash.Open(flashArchive, ZEFDEC_TRUSTED), ZEFDEC_OK);
    for (uint32_t i = 0; i < zefdec_count(&archive); ++i) {
      zefdec_image_info info;
      ASSERT_EQ(zefdec_info(&archive, i, &info), ZEFDEC_OK);
      for (const zefdec_canvas_format format : {ZEFDEC_CANVAS_RGB565, ZEFDEC_CANVAS_XRGB8888}) {
        // the image's first and last lines outside the canvas, and inside it
        for (const int32_t y : {-1, 0, 2}) {
          const uint32_t rows = info.height + 3, width = 40;
          Canvas whole(format, width, rows, width * 4, ++seed);
          const Canvas before = whole;
          const zefdec_canvas view = whole.View();
          ASSERT_EQ(zefdec_draw(&archive, i, &view, -1, y), ZEFDEC_OK);
          for (const uint32_t height : {1u, 2u, 3u, 7u, rows}) {
            auto bands = Bands(rows, height);
            for (const bool reversed : {false, true}) {
              if (reversed) std::reverse(bands.begin(), bands.end());
              for (const zefdec_archive* from : {&archive, &flashArchive}) {
                Canvas banded = before;
                DrawInBands(*from, i, banded, -1, y, bands);
                ASSERT_EQ(banded.storage, whole.storage)
                    << "image " << i << " at " << y << ", bands of " << height << (reversed ? " reversed" : "")
                    << (from == &flashArchive ? " through the callback" : "");
              }
            }
          }
        }
      }
    }
  }
}

// Another image drawn between two bands, or the same band asked twice,
// starts that image again from the top.
TEST(DeviceDifferential, BandsOfTwoImagesInTurnDrawWhatOneDrawEachDoes) {
  std::mt19937 random(5);
  const DrawCase c = WrittenOps(random, 7);
  zefdec_archive archive;
  ASSERT_EQ(zefdec_open(&archive, c.bytes.data(), c.bytes.size()), ZEFDEC_OK);
  const uint32_t tall = 3, other = 1;  // 6 x 23 and 9 x 4
  Canvas wholeTall(ZEFDEC_CANVAS_RGB565, 8, 24, 16, 1), wholeOther(ZEFDEC_CANVAS_RGB565, 8, 24, 16, 2);
  Canvas bandedTall = wholeTall, bandedOther = wholeOther, twice = wholeTall;
  const zefdec_canvas tallView = wholeTall.View(), otherView = wholeOther.View();
  ASSERT_EQ(zefdec_draw(&archive, tall, &tallView, 0, 0), ZEFDEC_OK);
  ASSERT_EQ(zefdec_draw(&archive, other, &otherView, 0, 1), ZEFDEC_OK);
  for (const auto& band : Bands(24, 5)) {
    DrawInBands(archive, tall, bandedTall, 0, 0, {band});
    DrawInBands(archive, other, bandedOther, 0, 1, {band});
  }
  EXPECT_EQ(bandedTall.storage, wholeTall.storage);
  EXPECT_EQ(bandedOther.storage, wholeOther.storage);
  // a band drawn twice blends twice onto the same rows, and the next band
  // must still find its own lines
  for (const auto& band : Bands(24, 5)) {
    DrawInBands(archive, tall, twice, 0, 0, {band});
    if (band.first == 5) DrawInBands(archive, tall, twice, 0, 0, {band});
  }
  Canvas reference(ZEFDEC_CANVAS_RGB565, 8, 24, 16, 1);
  DrawInBands(archive, tall, reference, 0, 0, Bands(24, 24));
  DrawInBands(archive, tall, reference, 0, 0, {{5, 5}});
  EXPECT_EQ(twice.storage, reference.storage);
}

// Ten bands of a tall image read about what one draw of it reads through
// the callback: each band begins where the last one stopped.
TEST(DeviceDifferential, TenBandsReadNoMoreThanOneDrawAndAFifth) {
  std::mt19937 random(9);
  std::vector<zef::PaletteEntry> palette = {{0, 0, 0, 0}};
  for (int n = 1; n < 40; ++n) palette.push_back({uint8_t(random()), uint8_t(n), 9, uint8_t(n % 3 ? 255 : 128)});
  const int width = 48, height = 480;
  std::vector<uint8_t> indices(width * height);
  for (uint8_t& index : indices) index = random() % 4 ? uint8_t(random() % 40) : 0;
  const Bytes bytes = zef::EncodeIndexed({{width, height, palette, indices}}, {}).bytes;
  Canvas screen(ZEFDEC_CANVAS_RGB565, width, height, width * 2, 3);
  FlashArchive whole(bytes), banded(bytes);
  zefdec_archive wholeArchive, bandedArchive;
  ASSERT_EQ(whole.Open(wholeArchive, ZEFDEC_TRUSTED), ZEFDEC_OK);
  ASSERT_EQ(banded.Open(bandedArchive, ZEFDEC_TRUSTED), ZEFDEC_OK);
  const size_t opened = whole.bytesRead;
  const zefdec_canvas view = screen.View();
  ASSERT_EQ(zefdec_draw(&wholeArchive, 0, &view, 0, 0), ZEFDEC_OK);
  DrawInBands(bandedArchive, 0, screen, 0, 0, Bands(height, height / 10));
  const size_t one = whole.bytesRead - opened, ten = banded.bytesRead - opened;
  EXPECT_GT(one, bytes.size() / 2);
  EXPECT_LE(ten * 5, one * 6) << "one draw read " << one << " bytes, ten bands " << ten;
}

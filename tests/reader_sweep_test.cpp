// Every truncation and many single-byte changes of valid archives of each
// version: the reader gives exactly what a literal reading over a binary
// file stream gives (images, message and start index), and never crashes,
// hangs or leaks (the sanitizer build runs this too).
#include <gtest/gtest.h>

#include <random>

#include "DeviceArchives.h"
#include "LiteralReader.h"
#include "TestImages.h"
#include "Version4Archives.h"
#include "archive/ZefDecodeMat.h"
#include "archive/ZefImgReader.h"
#include "writer/ZefImgWriter.h"

namespace {

using namespace zeftest;

struct Sample {
  std::string name;
  Bytes bytes;
};

Bytes Written(int version, int alphaValues, bool withMasks, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<cv::Mat> images, masks;
  for (int n = 0; n < 2; ++n) {
    const int width = 3 + int(random() % 9), height = 1 + int(random() % 3);
    images.push_back(RandomImage(random, width, height, 5));
    if (withMasks) masks.push_back(RandomMask(random, width, height));
  }
  zef::ZefImgWriter writer;
  writer.SetVersion(version);
  if (version == zef::kVersion3) {
    writer.setAlpha(alphaValues);
    writer.SetStartIndex(int32_t(seed));
  }
  std::optional<Bytes> archive = writer.WriteMemory(images, masks);
  EXPECT_TRUE(archive.has_value()) << writer.GetError();
  return archive.value_or(Bytes{});
}

std::vector<Sample> Samples() {
  const std::vector<Line> lines = {{{0xF123, 3}, {0x0456, 2}}, {{0xF789, 5}}, {{0x1ABC, 1}, {0xFDEF, 4}}};
  Bytes raw;
  for (uint16_t word : {0xF123, 0x0456, 0xF789, 0x1ABC, 0xFDEF, 0xF000}) PutU16(raw, word);
  return {
      {"v1 runs", ArchiveV1(WordHeader(1), {5, 3, RunData(lines, true)})},
      {"v1 raw", ArchiveV1(WordHeader(0), {3, 2, raw})},
      {"v2 raw", ArchiveV2(WordHeader(0), {{2, 2, Bytes(raw.begin(), raw.begin() + 8)}, {1, 2, Bytes(raw.end() - 4, raw.end())}})},
      {"v2 runs, masks", Written(2, 0, true, 11)},
      {"v3 no alpha", Written(3, 0, false, 12)},
      {"v3 one alpha bit", Written(3, 2, true, 13)},
      {"v3 two alpha bits", Written(3, 4, true, 14)},
  };
}

// Reads one variant both ways; false after the first difference, so that a
// fault is reported once rather than for every variant.
bool SameOutcome(const Bytes& archive, const std::string& variant) {
  const LiteralReader::Outcome expected = LiteralReader().Read(archive);
  zef::ZefImgReader reader;
  const std::optional<std::vector<cv::Mat>> images = reader.ReadMemory(archive.data(), archive.size());
  const std::string error = reader.GetError();
  EXPECT_EQ(error, expected.error) << variant;
  EXPECT_EQ(reader.GetStartIndex(), expected.startIndex) << variant;
  EXPECT_EQ(images.has_value(), expected.images.has_value()) << variant;
  if (error != expected.error || images.has_value() != expected.images.has_value()) return false;
  if (!images) return true;
  EXPECT_FALSE(error.empty() && images->empty()) << variant;
  if (images->size() != expected.images->size()) {
    ADD_FAILURE() << variant << ": image count";
    return false;
  }
  for (size_t n = 0; n < images->size(); ++n) {
    const cv::Mat &mine = (*images)[n], &theirs = (*expected.images)[n];
    if (mine.size() != theirs.size() || mine.type() != theirs.type() ||
        cv::norm(mine, theirs, cv::NORM_INF) != 0) {
      ADD_FAILURE() << variant << ": image " << n << " differs";
      return false;
    }
  }
  return true;
}

// Checks every variant of the sample with one byte changed (a low bit, the
// high bit, plus one, 0 and 255); false at the first that fails.
template <typename Check>
bool EveryByteChange(const Sample& sample, Check check) {
  for (size_t at = 0; at < sample.bytes.size(); ++at) {
    const uint8_t original = sample.bytes[at];
    for (uint8_t value : {uint8_t(original ^ 0x01), uint8_t(original ^ 0x80), uint8_t(original + 1),
                          uint8_t(0x00), uint8_t(0xFF)}) {
      if (value == original) continue;
      Bytes changed = sample.bytes;
      changed[at] = value;
      if (!check(changed, sample.name + " byte " + std::to_string(at) + " = " + std::to_string(value))) return false;
    }
  }
  return true;
}

std::string ReadVersion4Refusal(const Bytes& archive) {
  zef::ZefImgReader reader;
  EXPECT_FALSE(reader.ReadMemory(archive.data(), archive.size()));
  return reader.GetError();
}

TEST(ReaderSweep, SamplesAreValid) {
  for (const Sample& sample : Samples()) {
    zef::ZefImgReader reader;
    const auto images = reader.ReadMemory(sample.bytes.data(), sample.bytes.size());
    EXPECT_TRUE(images && !images->empty()) << sample.name << ": " << reader.GetError();
  }
}

TEST(ReaderSweep, EveryTruncation) {
  for (const Sample& sample : Samples()) {
    for (size_t length = 0; length < sample.bytes.size(); ++length) {
      const Bytes cut(sample.bytes.begin(), sample.bytes.begin() + long(length));
      ASSERT_TRUE(SameOutcome(cut, sample.name + " cut to " + std::to_string(length)));
    }
  }
}

TEST(ReaderSweep, SingleByteChanges) {
  for (const Sample& sample : Samples()) {
    ASSERT_TRUE(EveryByteChange(sample, SameOutcome));
  }
}

// Version 4, which only the library core reads: for every variant a full
// decode, a check that keeps no pixels and a decode into cv::Mat agree on
// the outcome, the message and the images' descriptions, and a decode that
// succeeds fills every image.
std::vector<Sample> Version4Samples() {
  std::mt19937 random(40);
  std::vector<Sample> samples;
  for (const int entries : {1, 2, 5, 16, 200}) {
    std::vector<zef::IndexedImage> images;
    for (int n = 0; n < 2; ++n) {
      const int width = 2 + int(random() % 70), height = 1 + int(random() % 3);
      images.push_back(Indexed(width, height, DistinctEntries(entries, random),
                               RandomIndices(random, size_t(width * height), entries, 1 + n * 8)));
    }
    zef::Options options;
    options.startIndex = int32_t(entries);
    zef::EncodeResult result = zef::EncodeIndexed(images, options);
    EXPECT_TRUE(result.Ok()) << result.message;
    samples.push_back({"v4 " + std::to_string(entries) + " entries", std::move(result.bytes)});
  }
  return samples;
}

bool SameDescriptions(const zef::DecodeResult& a, const zef::DecodeResult& b) {
  if (a.images.size() != b.images.size()) return false;
  for (size_t n = 0; n < a.images.size(); ++n) {
    const zef::DecodedImage &x = a.images[n], &y = b.images[n];
    if (x.number != y.number || x.width != y.width || x.height != y.height ||
        x.paletteColours != y.paletteColours || x.dataBytes != y.dataBytes) {
      return false;
    }
  }
  return true;
}

bool CoreAgrees(const Bytes& archive, const std::string& variant) {
  const zef::DecodeResult full = zef::Decode(archive.data(), archive.size());
  zef::Options checkOnly;
  checkOnly.keepPixels = false;
  const zef::DecodeResult checked = zef::Decode(archive.data(), archive.size(), checkOnly);
  const zef::MatDecodeResult mats = zef::DecodeMats(archive.data(), archive.size());
  EXPECT_EQ(full.message, checked.message) << variant;
  EXPECT_EQ(full.message, mats.message) << variant;
  EXPECT_EQ(full.Ok(), !full.images.empty()) << variant;
  EXPECT_TRUE(SameDescriptions(full, checked) && SameDescriptions(full, mats)) << variant;
  for (size_t n = 0; n < full.images.size(); ++n) {
    const zef::DecodedImage& image = full.images[n];
    const size_t pixels = size_t(image.width) * image.height;
    EXPECT_EQ(image.pixels.size(), pixels * 3) << variant;
    EXPECT_EQ(image.alphaCodes.size(), pixels) << variant;
    EXPECT_TRUE(checked.images[n].pixels.empty()) << variant;
    EXPECT_TRUE(n < mats.mats.size() && std::equal(image.pixels.begin(), image.pixels.end(), mats.mats[n].data))
        << variant;
  }
  return !testing::Test::HasFailure();
}

TEST(ReaderSweep, Version4EveryTruncationAndByteChange) {
  for (const Sample& sample : Version4Samples()) {
    ASSERT_TRUE(zef::Decode(sample.bytes.data(), sample.bytes.size()).Ok()) << sample.name;
    for (size_t length = 0; length < sample.bytes.size(); ++length) {
      const Bytes cut(sample.bytes.begin(), sample.bytes.begin() + long(length));
      ASSERT_TRUE(CoreAgrees(cut, sample.name + " cut to " + std::to_string(length)));
      // The described reader refuses the version before anything else.
      if (length >= 5) ASSERT_EQ(ReadVersion4Refusal(cut), "wrong version");
    }
    ASSERT_TRUE(EveryByteChange(sample, CoreAgrees));
  }
}

}  // namespace

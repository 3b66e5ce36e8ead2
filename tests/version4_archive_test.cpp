// Version 4 archives as bytes: the worked example of the format notes byte
// for byte, damaged archives each refused with its message (by a full
// decode and by a check alike), the decode limits, and the described
// reader class, which reads versions 1 to 3 only.
#include <gtest/gtest.h>

#include "ArchiveReading.h"
#include "Version4Archives.h"
#include "archive/ZefDecodeMat.h"

using namespace zeftest;

namespace {

// The example of docs/format.md: 12 x 3 pixels of three entries, 2-bit
// indices. T is transparent, R red, W half-transparent white.
zef::IndexedImage ExampleImage() {
  constexpr uint8_t T = 0, R = 1, W = 2;
  return Indexed(12, 3, {Entry(0, 0, 0, 0), Entry(255, 0, 0, 255), Entry(255, 255, 255, 128)},
                 {T, T, T, T, T, T, T, T, T, T, T, T,  //
                  T, T, R, W, W, R, T, T, T, T, T, T,  //
                  R, R, R, R, R, R, R, R, R, R, W, W});
}

const Bytes kExample = {
    0xAA, 0xFF, 0xAA, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00,        // signature, version 4, 1 image
    0x04, 0x01, 0x08, 0x08, 0x01, 0x10, 0x01,                    // header bytes
    0x00, 0x00, 0x00, 0x00, 0xFF, 0xEE, 0xDD,                    // start index 0, end of header
    0xBE, 0xBA, 0x00, 0x00, 0x0C, 0x00, 0x00, 0x00,              // image table: number 0, width 12
    0x03, 0x00, 0x00, 0x00, 0x27, 0x00, 0x00, 0x00,              // height 3, data at 39
    0xAF, 0xFE, 0x02, 0x02,                                      // image marker, 2-bit indices, 3 entries
    0x00, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x80,  // T, R, W
    0xCB,                                                        // line 0: 12 of entry 0
    0x05, 0x06, 0x90, 0xC5,                                      // line 1: literal of 6, 6 of entry 0
    0x89, 0x01, 0x81, 0x02,                                      // line 2: 10 of R, 2 of W
};

constexpr size_t kRecordAt = kV4RecordsAt, kBlockAt = 39, kLinesAt = 55;

TEST(Version4Archive, WorkedExampleByteForByte) {
  EXPECT_EQ(EncodedV4({ExampleImage()}), kExample);
  const zef::DecodeResult decoded = zef::Decode(kExample.data(), kExample.size());
  ASSERT_TRUE(decoded.Ok()) << decoded.message;
  ExpectShows(decoded.images.at(0), ExampleImage());
  EXPECT_EQ(decoded.images[0].paletteColours, 3u);
  EXPECT_EQ(decoded.images[0].dataBytes, kExample.size() - kBlockAt);
}

TEST(Version4Archive, TheDescribedReaderSaysWrongVersion) {
  const ReadResult read = ReadArchiveBytes(kExample);
  EXPECT_FALSE(read.images);
  EXPECT_EQ(read.error, "wrong version");
  TempDir dir;
  WriteFile(dir / "v4.zef", kExample);
  zef::ZefImgReader reader;
  EXPECT_FALSE(reader.Read(dir / "v4.zef"));
  EXPECT_EQ(reader.GetError(), "wrong version");
  // The library core reads the same file.
  EXPECT_TRUE(zef::DecodeFile(dir / "v4.zef").Ok());
}

Bytes Changed(size_t at, std::initializer_list<uint8_t> bytes) {
  Bytes archive = kExample;
  for (uint8_t byte : bytes) archive[at++] = byte;
  return archive;
}

Bytes Cut(size_t length) { return Bytes(kExample.begin(), kExample.begin() + long(length)); }

TEST(Version4Archive, DamagedArchivesAreRefusedWithTheirMessage) {
  Bytes trailing = kExample;
  trailing.push_back(0x55);
  struct Case {
    const char* name;
    Bytes archive;
    std::string message;  // empty: read as the example
  } cases[] = {
      {"version 5", Changed(3, {5}), "wrong version"},
      {"no images", Changed(5, {0}), "wrong header"},
      {"65537 images", Changed(5, {1, 0, 1, 0}), "wrong header"},
      {"end of header", Changed(20, {0xFF, 0xEE, 0xDE}), "wrong header"},
      {"image table marker", Changed(23, {0xBE, 0xBB}), "wrong image data"},
      {"width 0", Changed(kRecordAt + 2, {0, 0}), "wrong image data"},
      {"width 65535", Changed(kRecordAt + 2, {0xFF, 0xFF}), "wrong image data"},
      {"height 0", Changed(kRecordAt + 6, {0}), "wrong image data"},
      {"data offset one past the block", Changed(kRecordAt + 10, {40}), "wrong image data"},
      {"image marker", Changed(kBlockAt, {0xAF, 0xFF}), "wrong image data"},
      {"index bits 0", Changed(kBlockAt + 2, {0}), "error in image data (index bits not valid)"},
      {"index bits 9", Changed(kBlockAt + 2, {9}), "error in image data (index bits not valid)"},
      {"3 entries for 1-bit indices", Changed(kBlockAt + 2, {1}),
       "error in image data (more palette entries than the index bits address)"},
      {"5 entries for 2-bit indices", Changed(kBlockAt + 3, {4}),
       "error in image data (more palette entries than the index bits address)"},
      {"run of entry 0 past the line", Changed(kLinesAt, {0xCC}), "error in image data (op past the end of its line)"},
      {"literal past the line", Changed(kLinesAt + 1, {0x0C}), "error in image data (op past the end of its line)"},
      {"literal index 3 of 3 entries", Changed(kLinesAt + 3, {0xF0}), "error in image data (index outside the palette)"},
      {"run index 3 of 3 entries", Changed(kLinesAt + 6, {0x03}), "error in image data (index outside the palette)"},
      {"run index 255", Changed(kLinesAt + 8, {0xFF}), "error in image data (index outside the palette)"},
      {"last line a pixel short", Changed(kLinesAt + 7, {0x80}), "error in image data (too short)"},
      {"cut inside a run", Cut(kExample.size() - 1), "error in image data (too short)"},
      {"cut inside the entries", Cut(kBlockAt + 9), "error in image data (too short)"},
      {"cut after the index bits", Cut(kBlockAt + 3), "error in image data (too short)"},
      {"cut inside the table", Cut(kRecordAt + 5), "wrong image data"},
      {"a million lines in 64 bytes", Changed(kRecordAt + 6, {0x40, 0x42, 0x0F, 0x00}),
       "error in image data (too short)"},
      {"padding bits set", Changed(kLinesAt + 3, {0x9F}), ""},
      {"bytes after the last image", trailing, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const bool keepPixels : {true, false}) {
      zef::Options options;
      options.keepPixels = keepPixels;
      const zef::DecodeResult result = zef::Decode(c.archive.data(), c.archive.size(), options);
      EXPECT_EQ(result.message, c.message);
      EXPECT_EQ(result.error, c.message.empty() ? zef::Error::kNone : zef::Error::kBadArchive);
      if (c.message.empty() && keepPixels) ExpectShows(result.images.at(0), ExampleImage());
      EXPECT_EQ(result.images.empty(), !c.message.empty());
    }
  }
}

TEST(Version4Archive, LimitsRefuseOnlyWhatTheBytesCouldHold) {
  // 2000 x 1000 pixels of one entry: a run byte per 64 pixels.
  const Bytes large = EncodedV4({Indexed(2000, 1000, {Entry(1, 2, 3, 4)}, std::vector<uint8_t>(2000000))});
  ASSERT_EQ(large.size(), 39u + 2 + 2 + 4 + 1000 * 32);
  struct Case {
    zef::DecodeLimits limits;
    std::string message;
  } cases[] = {
      {{2000000, 0}, ""},
      {{1999999, 0}, "error in image data (image too large)"},
      {{0, 8000000}, ""},  // 3 bytes of colour and one of alpha per pixel
      {{0, 7999999}, "error in image data (image too large)"},
  };
  for (const Case& c : cases) {
    for (const bool keepPixels : {true, false}) {
      zef::Options options;
      options.limits = c.limits;
      options.keepPixels = keepPixels;
      const zef::DecodeResult result = zef::Decode(large.data(), large.size(), options);
      EXPECT_EQ(result.message, c.message) << c.limits.maxPixelsPerImage << " " << c.limits.maxDecodedBytes;
      EXPECT_EQ(result.error, c.message.empty() ? zef::Error::kNone : zef::Error::kImageTooLarge);
    }
  }
  // One line short of what the lines need: the data fails before any limit.
  Bytes cut(large.begin(), large.end() - 32);
  zef::Options tight;
  tight.limits = {1, 1};
  EXPECT_EQ(zef::Decode(cut.data(), cut.size(), tight).message, "error in image data (too short)");
  // Without alpha, 3 bytes a pixel count against the limit.
  tight.limits = {0, 6000000};
  tight.decodeAlpha = false;
  const zef::MatDecodeResult mats = zef::DecodeMats(large.data(), large.size(), tight);
  ASSERT_TRUE(mats.Ok()) << mats.message;
  EXPECT_TRUE(mats.images.at(0).alphaCodes.empty());
  EXPECT_EQ(mats.mats.at(0).at<cv::Vec3b>(999, 1999), cv::Vec3b(3, 2, 1));
}

}  // namespace

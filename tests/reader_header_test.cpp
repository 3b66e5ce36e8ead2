// Read up to the image data: opening, signature, version, the headers of
// the three versions, the start index and the pending error text.
#include <gtest/gtest.h>

#include "ArchiveReading.h"
#include "DeviceArchives.h"

namespace {

using namespace zeftest;

const zef::HeaderBytes kWords = WordHeader(1);

Bytes OnePixelV1(uint8_t compression) {
  Bytes raw;
  PutU16(raw, 0xF123);
  return ArchiveV1(WordHeader(compression), {1, 1, compression == 0 ? raw : RunData({{{0xF123, 1}}}, true)});
}

Bytes OnePixelV2() { return ArchiveV2(kWords, {{1, 1, RunData({{{0xF123, 1}}}, true)}}); }

Bytes OnePixelV3(uint32_t startIndex) {
  return ArchiveV3(CodeHeader(0, 0), startIndex, {{1, 1, RunData({{{0, 1}}})}}, {{0x0321}});
}

TEST(ReaderOpen, MissingFileIsNamedAndTheTextIsHandedOutOnce) {
  TempDir dir;
  const std::string name = (dir / "missing.zef").string();
  zef::ZefImgReader reader;
  EXPECT_FALSE(reader.Read(name));
  EXPECT_EQ(reader.GetError(), "could not open file " + name);
  EXPECT_EQ(reader.GetError(), "");
}

TEST(ReaderOpen, FileAndMemoryGiveTheSameImages) {
  TempDir dir;
  const Bytes archive = OnePixelV3(0);
  WriteFile(dir / "a.zef", archive);
  zef::ZefImgReader reader;
  const auto fromFile = reader.Read((dir / "a.zef").string());
  const ReadResult fromMemory = ReadArchiveBytes(archive);
  ASSERT_TRUE(fromFile && fromMemory.images);
  ASSERT_EQ(fromFile->size(), 1u);
  EXPECT_EQ(cv::norm((*fromFile)[0], (*fromMemory.images)[0], cv::NORM_INF), 0);
}

TEST(ReaderOpen, SignatureAndVersion) {
  EXPECT_EQ(ReadArchiveBytes({}).error, "wrong header");
  EXPECT_EQ(ReadArchiveBytes({0xAA, 0xFF, 0xAB, 0x02, 0x00}).error, "wrong header");
  EXPECT_EQ(ReadArchiveBytes({0xAA, 0xFF, 0xAA, 0x01}).error, "wrong file");
  EXPECT_EQ(ReadArchiveBytes({0xAA, 0xFF, 0xAA, 0x04, 0x00}).error, "wrong version");
  EXPECT_EQ(ReadArchiveBytes({0xAA, 0xFF, 0xAA, 0x00, 0x00}).error, "wrong version");
}

TEST(ReaderHeaderV1, EveryFieldIsChecked) {
  const Bytes good = OnePixelV1(1);
  ASSERT_TRUE(ReadArchiveBytes(good).images);
  // width, height, header bytes 1-6, the end marker, and a cut header.
  for (size_t at : {5, 9, 13, 14, 15, 16, 17, 18, 20, 21, 22}) {
    Bytes broken = good;
    if (at < 13) {
      PatchU32(broken, at, 0);
    } else {
      ++broken[at];
    }
    EXPECT_EQ(ReadArchiveBytes(broken).error, "wrong header") << at;
  }
  EXPECT_EQ(ReadArchiveBytes(Bytes(good.begin(), good.begin() + 20)).error, "wrong header");
}

TEST(ReaderHeaderV1, CompressionFlagPicksTheDecoder) {
  // A raw word with alpha nibble 0 is black; the same run is not.
  Bytes raw = OnePixelV1(0);
  raw[raw.size() - 1] = 0x01;
  Bytes runs = OnePixelV1(7);
  runs[runs.size() - 2] = 0x01;
  const ReadResult fromRaw = ReadArchiveBytes(raw), fromRuns = ReadArchiveBytes(runs);
  ASSERT_TRUE(fromRaw.images && fromRuns.images) << fromRaw.error << fromRuns.error;
  EXPECT_EQ((*fromRaw.images)[0].at<cv::Vec3b>(0, 0), cv::Vec3b(0, 0, 0));
  EXPECT_EQ((*fromRuns.images)[0].at<cv::Vec3b>(0, 0), cv::Vec3b(48, 32, 16));
}

TEST(ReaderHeader, NoImagesIsAWrongHeader) {
  Bytes v2 = OnePixelV2(), v3 = OnePixelV3(0);
  PatchU32(v2, kImageCountAt, 0);
  PatchU32(v3, kImageCountAt, 0);
  EXPECT_EQ(ReadArchiveBytes(v2).error, "wrong header");
  EXPECT_EQ(ReadArchiveBytes(v3).error, "wrong header");
}

TEST(ReaderHeader, ShortReadsInTheUntestedFieldsShowAtTheEndMarker) {
  const Bytes v3 = OnePixelV3(0);
  for (size_t length : {10, 15, 17, 21}) {
    EXPECT_EQ(ReadArchiveBytes(Bytes(v3.begin(), v3.begin() + length)).error, "wrong header")
        << length;
  }
  Bytes marker = v3;
  marker[22] = 0;
  EXPECT_EQ(ReadArchiveBytes(marker).error, "wrong header");
}

TEST(ReaderHeader, StartIndexComesFromVersion3AndIsClearedByVersion2) {
  zef::ZefImgReader reader;
  const Bytes v3 = OnePixelV3(7), v2 = OnePixelV2(), v1 = OnePixelV1(1);
  ASSERT_TRUE(reader.ReadMemory(v3.data(), v3.size()));
  EXPECT_EQ(reader.GetStartIndex(), 7u);
  ASSERT_TRUE(reader.ReadMemory(v1.data(), v1.size()));
  EXPECT_EQ(reader.GetStartIndex(), 7u);
  ASSERT_TRUE(reader.ReadMemory(v2.data(), v2.size()));
  EXPECT_EQ(reader.GetStartIndex(), 0u);
}

TEST(ReaderHeader, PendingTextSurvivesASuccessfulRead) {
  zef::ZefImgReader reader;
  const Bytes bad = {0xAA, 0xFF, 0xAA, 0x09, 0x00}, good = OnePixelV2();
  EXPECT_FALSE(reader.ReadMemory(bad.data(), bad.size()));
  EXPECT_TRUE(reader.ReadMemory(good.data(), good.size()));
  EXPECT_EQ(reader.GetError(), "wrong version");
  EXPECT_EQ(reader.Version(), 2);
}

}  // namespace

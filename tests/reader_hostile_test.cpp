// Headers that announce far more than the file holds: each read fails at
// once with the message that the reading rules give for that file, and
// makes no image on the header's word.
#include <gtest/gtest.h>

#include <algorithm>

#include "ArchiveReading.h"
#include "DeviceArchives.h"

namespace {

using namespace zeftest;

// Sees every pixel buffer that the image library is asked for while it is
// installed.
class ImageAllocations : public cv::MatAllocator {
 public:
  ImageAllocations() : previous_(cv::Mat::getDefaultAllocator()) {
    cv::Mat::setDefaultAllocator(this);
  }
  ~ImageAllocations() override { cv::Mat::setDefaultAllocator(previous_); }
  ImageAllocations(const ImageAllocations&) = delete;
  ImageAllocations& operator=(const ImageAllocations&) = delete;

  cv::UMatData* allocate(int dims, const int* sizes, int type, void* data, size_t* step,
                         cv::AccessFlag flags, cv::UMatUsageFlags usage) const override {
    size_t bytes = CV_ELEM_SIZE(type);
    for (int d = 0; d < dims; ++d) bytes *= size_t(sizes[d]);
    requested_ += bytes;
    return cv::Mat::getStdAllocator()->allocate(dims, sizes, type, data, step, flags, usage);
  }
  bool allocate(cv::UMatData* u, cv::AccessFlag flags, cv::UMatUsageFlags usage) const override {
    return cv::Mat::getStdAllocator()->allocate(u, flags, usage);
  }
  void deallocate(cv::UMatData* u) const override { cv::Mat::getStdAllocator()->deallocate(u); }

  size_t Requested() const { return requested_; }

 private:
  cv::MatAllocator* previous_;
  mutable size_t requested_ = 0;
};

void ExpectFailsWithoutImages(const Bytes& archive, const std::string& message) {
  ImageAllocations allocations;
  const ReadResult result = ReadArchiveBytes(archive);
  EXPECT_FALSE(result.images);
  EXPECT_EQ(result.error, message);
  EXPECT_EQ(allocations.Requested(), 0u);
}

constexpr uint32_t kHuge = 0xFFFFFFFF;
constexpr uint32_t kLarge = 100000;

Bytes SmallV2() { return ArchiveV2(WordHeader(1), {{2, 1, RunData({{{0xF123, 2}}}, true)}}); }

Bytes SmallV3(size_t palettes = 1) {
  return ArchiveV3(CodeHeader(0, 0), 0, {{2, 1, RunData({{{0, 2}}}), 0}},
                   std::vector<std::vector<uint16_t>>(palettes, {0x0123}));
}

constexpr size_t kPaletteBlockAt = kRecordsAtV3 + zef::kImageRecordSizeV3;

TEST(ReaderHostile, CountingSeesTheImagesOfASoundFile) {
  ImageAllocations allocations;
  ASSERT_TRUE(ReadArchiveBytes(SmallV2()).images);
  EXPECT_EQ(allocations.Requested(), 2u * 1 * 3);
}

TEST(ReaderHostile, ImageCountOfFourBillion) {
  Bytes v2 = SmallV2(), v3 = SmallV3();
  PatchU32(v2, kImageCountAt, kHuge);
  PatchU32(v3, kImageCountAt, kHuge);
  ExpectFailsWithoutImages(v2, "wrong image data");
  ExpectFailsWithoutImages(v3, "wrong image data");
}

TEST(ReaderHostile, PaletteCountOfFourBillion) {
  Bytes archive = SmallV3();
  PatchU32(archive, kPaletteBlockAt + 2, kHuge);
  ExpectFailsWithoutImages(archive, "could not read PaletteSpecifications...");
}

TEST(ReaderHostile, EntryCountOfFourBillion) {
  // The colours run past the end: the next palette's marker cannot be read,
  // and after the last palette the first image is not where it should be.
  const size_t firstEntryCount = kPaletteBlockAt + 6 + 2;
  Bytes last = SmallV3(1), notLast = SmallV3(2);
  PatchU32(last, firstEntryCount, kHuge);
  PatchU32(notLast, firstEntryCount, kHuge);
  ExpectFailsWithoutImages(last, "wrong image data");
  ExpectFailsWithoutImages(notLast, "wrong palette data");
}

TEST(ReaderHostile, HugeImageInASmallFile) {
  for (size_t field : {zef::kRecordWidthAt, zef::kRecordHeightAt}) {
    Bytes v2 = SmallV2(), v3 = SmallV3();
    PatchU32(v2, kRecordsAtV2 + zef::kRecordWidthAt, kLarge);
    PatchU32(v2, kRecordsAtV2 + field, kLarge);
    PatchU32(v3, kRecordsAtV3 + zef::kRecordWidthAt, kLarge);
    PatchU32(v3, kRecordsAtV3 + field, kLarge);
    ExpectFailsWithoutImages(v2, "error in image data (too short)");
    ExpectFailsWithoutImages(v3, "wrong image data");
  }
}

TEST(ReaderHostile, HugeImageKeepsTheMessageOfAnEarlierCheck) {
  // Four billion lines of 1 pixel: the first run is already too long.
  Bytes archive = SmallV2();
  PatchU32(archive, kRecordsAtV2 + zef::kRecordWidthAt, 1);
  PatchU32(archive, kRecordsAtV2 + zef::kRecordHeightAt, kHuge);
  ExpectFailsWithoutImages(archive, "error in image data (RLE line too long)");
}

TEST(ReaderHostile, Version1SizeBeyondThirtyTwoBits) {
  // 65536 x 65537 pixels wrap to 65536 in 32 bits; the raw data then
  // looks long enough to a reader that multiplies in 32 bits.
  Bytes raw(2 * 65536 + 2, 0xFF);
  ExpectFailsWithoutImages(ArchiveV1(WordHeader(0), {65536, 65537, raw}),
                           "error in image data (too short)");
  // Largest sizes, run-length: the one run that is there is not too long.
  ExpectFailsWithoutImages(ArchiveV1(WordHeader(1), {kHuge, kHuge, RunData({{{0xF123, 255}}}, true)}),
                           "error in image data (too short)");
}

TEST(ReaderHostile, SoundImageWiderThanTheImageLibraryTakes) {
  // One line of 255-pixel runs, wider than an image row can be: the data
  // is read through, and only sound data is reported as too large.
  constexpr uint32_t kRuns = 2807170;  // 715,828,350 pixels of 3 bytes: over 2^31 bytes
  const Line line(kRuns, {0, 255});
  Bytes archive = ArchiveV3(CodeHeader(0, 0), 0, {{kRuns * 255, 1, RunData({line}), 0}}, {{0x0123}});
  ExpectFailsWithoutImages(archive, "wrong image data");
  zef::ZefImgReader reader;
  const Bytes data = RunData({line});
  const Bytes palette = {0x23, 0x01};
  zef::InputBuffer sound(data.data(), data.size());
  EXPECT_FALSE(reader.ReadPaletteImage(kRuns * 255, 1, zef::kAlphaPositionHigh, 0, 0, sound,
                                       zef::PaletteColours(palette.data(), palette.size(), 0, 1)));
  EXPECT_EQ(reader.GetError(), "error in image data (image too large)");
  Bytes miscounted = data;
  miscounted[0] ^= 1;
  zef::InputBuffer faulty(miscounted.data(), miscounted.size());
  EXPECT_FALSE(reader.ReadPaletteImage(kRuns * 255, 1, zef::kAlphaPositionHigh, 0, 0, faulty,
                                       zef::PaletteColours(palette.data(), palette.size(), 0, 1)));
  EXPECT_EQ(reader.GetError(), "entries!=allentries?!");
}

}  // namespace

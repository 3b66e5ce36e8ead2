// Whole archives: layout, offsets, alpha modes and the faults of Write.
#include <gtest/gtest.h>

#include "TestImages.h"
#include "writer/ZefImgWriter.h"

using namespace zeftest;

namespace {

Bytes Written(zef::ZefImgWriter& writer, const std::vector<cv::Mat>& images,
              const std::vector<cv::Mat>& masks = {}) {
  TempDir dir;
  EXPECT_TRUE(writer.Write(dir / "a.zef", images, masks)) << writer.GetError();
  return ReadFile(dir / "a.zef");
}

TEST(Write, SmallestVersion3File) {
  zef::ZefImgWriter writer;
  writer.SetVersion(3);
  writer.setAlpha(0);
  writer.SetStartIndex(7);
  const Bytes file = Written(writer, {FlatImage(1, 1, {0x00, 0x80, 0xF0})});
  const Bytes expected = {
      0xAA, 0xFF, 0xAA, 3, 0, 1, 0, 0, 0,             // signature, version, imageCount
      3, 1, 8, 0, 0, 16, 1,                           // header bytes
      7, 0, 0, 0, 0xFF, 0xEE, 0xDD,                   // startIndex, end of header
      0xBE, 0xBA, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, // image record ...
      61, 0, 0, 0,                                    // ... its dataOffset
      0xFA, 0xFA, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 57, 0, 0, 0,
      0xFA, 0xBE, 0x80, 0x0F,                         // palette: red 15, green 8
      0xAF, 0xFE, 1, 0, 0, 0, 1, 0, 0, 1};
  EXPECT_EQ(file.size(), 71u);
  EXPECT_EQ(file, expected);
}

TEST(Write, Version2LayoutAndOffsets) {
  zef::ZefImgWriter writer;
  const Bytes file = Written(writer, {FlatImage(3, 1, {0x10, 0x20, 0x30}), FlatImage(2, 2, {0, 0, 0})});
  EXPECT_EQ(U16At(file, 3), 2);
  EXPECT_EQ(file[13], 0);  // alpha mode 0 without masks
  EXPECT_EQ(Bytes(file.begin() + 16, file.begin() + 21), (Bytes{0xFF, 0xEE, 0xDD, 0xBE, 0xBA}));
  const uint32_t first = U32At(file, 21 + 10), second = U32At(file, 21 + 14 + 10);
  EXPECT_EQ(first, 19 + 2 + 2 * 14u);
  // one image of 3 x 1: count 1, line count 1, one run of word 0xF321 and length 3
  EXPECT_EQ(Bytes(file.begin() + first, file.begin() + first + 11),
            (Bytes{0xAF, 0xFE, 1, 0, 0, 0, 1, 0, 0x21, 0xF3, 3}));
  EXPECT_EQ(second, first + 11);
  EXPECT_EQ(file[second], 0xAF);
  EXPECT_EQ(U16At(file, 21 + 14), 1);  // imageNumber of the second record

  zef::ZefImgWriter one;
  EXPECT_EQ(U32At(Written(one, {FlatImage(1, 1, {})}), 31), 35u);
}

TEST(Write, Version3PalettesBelongToTheirImages) {
  zef::ZefImgWriter writer;
  writer.SetVersion(3);
  writer.SetStartIndex(100);
  std::mt19937 random(7);
  const std::vector<cv::Mat> images = {RandomImage(random, 9, 4, 5), RandomImage(random, 3, 7, 60)};
  const std::vector<cv::Mat> masks = {RandomMask(random, 9, 4), RandomMask(random, 3, 7)};
  const Bytes file = Written(writer, images, masks);
  EXPECT_EQ(file[13], 1);  // graded alpha
  EXPECT_EQ(U32At(file, 16), 100u);
  EXPECT_EQ(U16At(file, 25 + 10), 0);  // paletteIndex of image 0
  EXPECT_EQ(U16At(file, 25 + 16 + 10), 1);
  const size_t block = 25 + 2 * 16;
  EXPECT_EQ(U32At(file, block + 2), 2u);
  const uint32_t palette1 = U32At(file, block + 6 + 10 + 6);
  EXPECT_EQ(U32At(file, block + 6 + 6) + 2 + 2 * U32At(file, block + 6 + 2), palette1);
  const uint32_t image0 = U32At(file, 25 + 12);
  EXPECT_EQ(palette1 + 2 + 2 * U32At(file, block + 6 + 10 + 2), image0);
  EXPECT_EQ(file[image0], 0xAF);
  EXPECT_EQ(file[U32At(file, 25 + 16 + 12)], 0xAF);
}

TEST(Write, EachWriteLabelsItsOwnAlphaMode) {
  zef::ZefImgWriter writer;
  writer.SetVersion(3);
  writer.setAlpha(4);
  const cv::Mat image = ImageWithColours(64);
  EXPECT_EQ(Written(writer, {image})[13], 0);
  EXPECT_EQ(writer.Header().alphaMode, 1);
  const Bytes masked = Written(writer, {image}, {FlatMask(64, 1, 255)});
  EXPECT_EQ(masked[13], 1);
  // the palette limit still follows the alpha bits without masks
  TempDir dir;
  EXPECT_FALSE(writer.Write(dir / "b.zef", {ImageWithColours(65)}, {}));
}

TEST(Write, MasksWithoutAlphaBitsFailAfterTheHeader) {
  zef::ZefImgWriter writer;
  writer.SetVersion(3);
  writer.setAlpha(0);
  TempDir dir;
  EXPECT_FALSE(writer.Write(dir / "c.zef", {FlatImage(2, 2, {})}, {FlatMask(2, 2, 0)}));
  EXPECT_EQ(writer.GetError(), "AlphaMode not implemented...");
  const Bytes partial = ReadFile(dir / "c.zef");
  ASSERT_GE(partial.size(), 8u);  // left on disk, with the zero counts at its end
  EXPECT_EQ(Bytes(partial.end() - 8, partial.end()), (Bytes{0xAF, 0xFE, 0, 0, 0, 0, 0, 0}));
}

TEST(Write, FailuresOfTheDestination) {
  zef::ZefImgWriter writer;
  const std::vector<cv::Mat> images = {FlatImage(4, 4, {})};
  EXPECT_FALSE(writer.Write("/nonexistent-folder/x.zef", images, {}));
  EXPECT_EQ(writer.GetError(), "ZefImgWriter: Write: could not open destination file");
  for (int version : {2, 3}) {
    writer.SetVersion(version);
    EXPECT_FALSE(writer.Write("/dev/full", images, {}));
    EXPECT_EQ(writer.GetError(), "ZefImgWriter: Write: could not write destination file");
  }
  // A later success does not clear a pending message.
  writer.SetError("earlier");
  Written(writer, images);
  EXPECT_EQ(writer.GetError(), "earlier");
}

TEST(Write, ArchiveSizeLimit) {
  zef::ZefImgWriter writer;
  writer.SetVersion(3);
  const std::vector<cv::Mat> images = {FlatImage(1, 1, {})};
  writer.SetArchiveSizeLimit(71);
  Written(writer, images);
  TempDir dir;
  // The message states the limit in force; a refused archive leaves an
  // existing file as it was.
  WriteFile(dir / "big.zef", {1, 2});
  const struct {
    uint64_t limit;
    const char* text;
    int height;  // of an image of 64 colour stripes: 130 bytes a line
  } limits[] = {{70, "70 bytes", 1}, {2048, "2 KiB", 40}, {3u << 20, "3 MiB", 25000}};
  for (const auto& limit : limits) {
    writer.SetArchiveSizeLimit(limit.limit);
    const cv::Mat stripes = MakeImage(64, limit.height, [](int x, int) { return cv::Vec3b(uint8_t((x & 15) << 4), uint8_t((x >> 4) << 4), 0); });
    EXPECT_FALSE(writer.Write(dir / "big.zef", {stripes}, {}));
    EXPECT_EQ(writer.GetError(), std::string("ZefImgWriter: Write: archive too large (more than ") + limit.text + ")");
  }
  EXPECT_EQ(ReadFile(dir / "big.zef"), (Bytes{1, 2}));
}

TEST(Write, Version3HoldsAtMost65536Images) {
  zef::ZefImgWriter writer;
  writer.SetVersion(3);
  const cv::Mat pixel = FlatImage(1, 1, {});
  std::vector<cv::Mat> images(65537, pixel);
  TempDir dir;
  EXPECT_FALSE(writer.Write(dir / "many.zef", images, {}));
  EXPECT_EQ(writer.GetError(), "ZefImgWriter: Write: too many images for version 3 (65537, max 65536)");
  EXPECT_FALSE(std::filesystem::exists(dir / "many.zef"));

  images.pop_back();
  const Bytes file = Written(writer, images);
  EXPECT_EQ(U16At(file, 25 + 65535 * 16 + 10), 65535);  // the last paletteIndex still fits

  zef::ZefImgWriter version2;  // no palettes: image numbers are cut to 16 bits
  images.push_back(pixel);
  const Bytes v2 = Written(version2, images);
  EXPECT_EQ(U16At(v2, 21 + 65536 * 14), 0);
}

}  // namespace

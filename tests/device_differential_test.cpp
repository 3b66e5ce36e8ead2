// The device decoder against ZefImgReader: on archives that the writer makes
// in every setting, both give the same pixels and the device gives each
// mask's alpha code; on damaged copies, both accept or refuse alike.
#include <gtest/gtest.h>

#include "DeviceArchives.h"
#include "archive/ZefImgReader.h"
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
  return archives;
}

// Both judge the bytes alike, and where both accept, they agree on every pixel.
void ExpectSameJudgement(const Bytes& bytes, const std::string& what) {
  const auto expected = ReadWithReader(bytes);
  zefdec_archive archive;
  const int result = zefdec_open(&archive, bytes.data(), bytes.size());
  ASSERT_EQ(result == ZEFDEC_OK, expected.has_value()) << what << ": device " << result;
  if (!expected) return;
  ASSERT_EQ(zefdec_count(&archive), expected->size()) << what;
  for (uint32_t i = 0; i < zefdec_count(&archive); ++i) {
    const DeviceImage image = DecodeWithDevice(archive, i, ZEFDEC_BGR888);
    ASSERT_EQ(image.result, ZEFDEC_OK) << what;
    ASSERT_EQ(image.pixels.size(), (*expected)[i].size()) << what;
    if (!image.pixels.empty()) {
      ASSERT_EQ(cv::norm(image.pixels, (*expected)[i], cv::NORM_INF), 0) << what << " image " << i;
    }
  }
}

TEST(DeviceDifferential, EveryTruncationIsRefusedByBoth) {
  for (const Bytes& good : SampleArchives()) {
    ASSERT_TRUE(ReadWithReader(good).has_value());
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

}  // namespace

// The core calls: encode into memory and into a file, decode from bytes
// and from a file, with their error codes, messages and limits.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <random>
#include <tuple>

#include "AddressLimits.h"
#include "CoreArchives.h"
#include "archive/ZefDecodeMat.h"
#include "archive/ZefImgReader.h"
#include "writer/ZefEncode.h"
#include "writer/ZefImgWriter.h"

using namespace zeftest;

namespace {

struct Setting {
  int version;
  int alphaValues;
  zef::AlphaPosition position;
  bool masks;
  int colours;
  uint8_t alphaBits;  // of the decoded alpha codes
};

const Setting kSettings[] = {
    {2, 0, zef::AlphaPosition::kHigh, false, 300, 0}, {2, 0, zef::AlphaPosition::kLow, true, 300, 4},
    {3, 0, zef::AlphaPosition::kHigh, false, 256, 0}, {3, 2, zef::AlphaPosition::kHigh, true, 128, 1},
    {3, 2, zef::AlphaPosition::kLow, true, 128, 1},   {3, 4, zef::AlphaPosition::kHigh, true, 64, 2},
    {3, 4, zef::AlphaPosition::kLow, false, 64, 0},
};

uint8_t ExpectedAlphaCode(const Setting& setting, uint8_t maskByte) {
  if (setting.version == 2) return maskByte >= 64 ? 15 : 0;
  return maskByte >> (8 - setting.alphaBits);
}

TEST(CoreApi, MemoryFileAndWriterGiveOneArchiveThatDecodesBack) {
  std::mt19937 random(31);
  for (const Setting& setting : kSettings) {
    SCOPED_TRACE(testing::Message() << "version " << setting.version << " alpha " << setting.alphaValues
                                    << " low " << (setting.position == zef::AlphaPosition::kLow)
                                    << " masks " << setting.masks);
    std::vector<cv::Mat> images, masks;
    for (int n = 0; n < 3; ++n) {
      const int width = 1 + int(random() % 200), height = 1 + int(random() % 20);
      images.push_back(RandomImage(random, width, height, 1 + int(random() % setting.colours)));
      if (setting.masks) masks.push_back(RandomMask(random, width, height));
    }
    zef::Options options = OptionsOf(setting.version, setting.alphaValues, setting.position);
    options.startIndex = 12;
    const Bytes memory = Encoded(images, masks, options);

    TempDir dir;
    EXPECT_TRUE(zef::EncodeMatsToFile(dir / "core.zef", images, masks, options).Ok());
    EXPECT_EQ(ReadFile(dir / "core.zef"), memory);
    zef::ZefImgWriter writer;
    writer.SetVersion(setting.version);
    if (setting.version == 3) writer.setAlpha(setting.alphaValues);
    writer.SetAlphaPosition(setting.position);
    writer.SetStartIndex(12);
    ASSERT_TRUE(writer.Write(dir / "writer.zef", images, masks)) << writer.GetError();
    EXPECT_EQ(ReadFile(dir / "writer.zef"), memory);
    EXPECT_EQ(writer.WriteMemory(images, masks), memory);

    const zef::DecodeResult decoded = zef::DecodeFile(dir / "core.zef");
    ASSERT_TRUE(decoded.Ok()) << decoded.message;
    EXPECT_EQ(decoded.info.version, setting.version);
    EXPECT_EQ(decoded.info.imageCount, 3u);
    EXPECT_EQ(decoded.info.startIndex, setting.version == 3 ? 12u : 0u);
    EXPECT_EQ(decoded.info.alphaBits, setting.alphaBits);
    EXPECT_EQ(decoded.info.fileSize, memory.size());
    ASSERT_EQ(decoded.images.size(), 3u);
    const zef::MatDecodeResult mats = zef::DecodeMats(memory.data(), memory.size());
    ASSERT_EQ(mats.mats.size(), 3u);
    uint64_t dataBytes = 0;
    for (size_t n = 0; n < images.size(); ++n) {
      const zef::DecodedImage& image = decoded.images[n];
      EXPECT_EQ(image.number, (setting.version == 3 ? 12u : 0u) + n);
      EXPECT_EQ(image.width, uint32_t(images[n].cols));
      EXPECT_EQ(image.height, uint32_t(images[n].rows));
      const cv::Mat pixels(int(image.height), int(image.width), CV_8UC3, const_cast<uint8_t*>(image.pixels.data()));
      EXPECT_EQ(cv::norm(pixels, mats.mats[n], cv::NORM_INF), 0);
      // Colours come back at either alpha position, palettes included.
      EXPECT_EQ(cv::norm(pixels, Quantised(images[n]), cv::NORM_INF), 0);
      zef::ZefImgWriter counter;
      EXPECT_EQ(image.paletteColours, setting.version == 3 ? counter.BuildPalette(images[n])->size() : 0u);
      ASSERT_EQ(image.alphaCodes.size(), setting.alphaBits == 0 ? 0 : images[n].total());
      EXPECT_EQ(mats.images[n].alphaCodes, image.alphaCodes);
      for (size_t p = 0; p < image.alphaCodes.size(); ++p) {
        ASSERT_EQ(image.alphaCodes[p], ExpectedAlphaCode(setting, masks[n].data[p])) << "pixel " << p;
      }
      dataBytes += image.dataBytes;
    }
    EXPECT_EQ(dataBytes, memory.size() - ImageOffset(memory, 0));
  }
}

TEST(CoreApi, AlphaCodesAsEightBits) {
  EXPECT_EQ(zef::Alpha8(1, 1), 255);
  EXPECT_EQ(zef::Alpha8(0, 2), 0);
  EXPECT_EQ(zef::Alpha8(2, 2), 170);
  EXPECT_EQ(zef::Alpha8(7, 4), 119);
  EXPECT_EQ(zef::Alpha8(0, 0), 255);  // no alpha bits: opaque
}

TEST(CoreApi, EncodeRefusalsCarryTheirCodeAndMessage) {
  const cv::Mat image = FlatImage(4, 2, {16, 32, 48});
  const cv::Mat mask = FlatMask(4, 2, 255);
  struct Case {
    const char* name;
    zef::Options options;
    std::vector<cv::Mat> images, masks;
    zef::Error error;
    std::string message;
  } cases[] = {
      {"version 1", OptionsOf(1), {image}, {}, zef::Error::kBadSetting, "error: version 1 not longer supported"},
      {"version 5", OptionsOf(5), {image}, {}, zef::Error::kBadSetting, "error: wrong version NR (5)"},
      {"alpha values", OptionsOf(3, 3), {image}, {}, zef::Error::kBadSetting, "wrong alpha values"},
      {"no images", OptionsOf(3), {}, {}, zef::Error::kBadInput, "no images"},
      {"mask count", OptionsOf(3), {image}, {mask, mask}, zef::Error::kBadInput, "nr of masks != nr of bmps.."},
      {"mask width", OptionsOf(2), {image, image}, {mask, FlatMask(3, 2, 0)}, zef::Error::kBadInput,
       "img 1: mask and image must have the same width"},
      {"image format", OptionsOf(3), {FlatMask(4, 2, 0)}, {}, zef::Error::kBadInput,
       "img 0: wrong cvImage (depth/nChannels)"},
      {"width", OptionsOf(2), {FlatImage(65535, 1, {})}, {}, zef::Error::kBadInput,
       "img 0: maximum width of an image is 65534"},
      {"palette", OptionsOf(3, 4), {ImageWithColours(65)}, {}, zef::Error::kPaletteTooBig,
       "error: palette too big (palette entries:65 (max 64 with 2 alpha bits), image 0)"},
      {"mask without alpha bits", OptionsOf(3, 0), {image}, {mask}, zef::Error::kMaskNotCoded,
       "AlphaMode not implemented..."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const zef::EncodeResult result = zef::EncodeMats(c.images, c.masks, c.options);
    EXPECT_EQ(result.error, c.error);
    EXPECT_EQ(result.message, c.message);
    EXPECT_TRUE(result.bytes.empty());
  }
}

TEST(CoreApi, FileFaultsAndTheSizeLimit) {
  const std::vector<cv::Mat> images = {FlatImage(4, 4, {})};
  zef::Status status = zef::EncodeMatsToFile("/nonexistent-folder/x.zef", images, {}, OptionsOf(3));
  EXPECT_EQ(status.error, zef::Error::kCannotOpen);
  EXPECT_EQ(status.message, "ZefImgWriter: Write: could not open destination file");
  status = zef::EncodeMatsToFile("/dev/full", images, {}, OptionsOf(2));
  EXPECT_EQ(status.error, zef::Error::kCannotWrite);
  EXPECT_EQ(status.message, "ZefImgWriter: Write: could not write destination file");

  // A source row repeated by a stride of 0: a large archive from little memory.
  std::vector<uint8_t> row(65534 * 3);
  for (size_t i = 0; i < row.size(); i += 6) row[i] = 0xF0;  // every pixel differs from its neighbour
  zef::Options options = OptionsOf(2);
  options.archiveSizeLimit = uint64_t{5} << 20;
  const zef::EncodeResult result = zef::Encode({{row.data(), 65534, 30, 0}}, {}, options);
  EXPECT_EQ(result.error, zef::Error::kArchiveTooLarge);
  EXPECT_EQ(result.message, "ZefImgWriter: Write: archive too large (more than 5 MiB)");
  options.archiveSizeLimit = (uint64_t{5} << 20) + 1;
  EXPECT_EQ(zef::Encode({{row.data(), 65534, 30, 0}}, {}, options).message,
            "ZefImgWriter: Write: archive too large (more than 5242881 bytes)");
}

TEST(CoreApi, DecodeFaultsCarryTheirCodeAndMessage) {
  const Bytes good = Encoded({FlatImage(3, 2, {0x10, 0x20, 0x30})}, {}, OptionsOf(3));
  Bytes wrongVersion = good;
  wrongVersion[3] = 9;
  struct Case {
    const char* name;
    Bytes bytes;
    zef::Error error;
    const char* message;
  } cases[] = {
      {"empty", {}, zef::Error::kBadArchive, "wrong header"},
      {"version", wrongVersion, zef::Error::kBadArchive, "wrong version"},
      {"cut short", Bytes(good.begin(), good.end() - 1), zef::Error::kBadArchive, "wrong image data"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const zef::DecodeResult result = zef::Decode(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(result.error, c.error);
    EXPECT_EQ(result.message, c.message);
    EXPECT_TRUE(result.images.empty());
  }
  const zef::DecodeResult missing = zef::DecodeFile("/nonexistent-folder/x.zef");
  EXPECT_EQ(missing.error, zef::Error::kCannotOpen);
  EXPECT_EQ(missing.message, "could not open file /nonexistent-folder/x.zef");
}

// A check without pixels finds every fault a full decode finds, with its
// message, and describes the images alike: archives of every setting, cut
// at every length and with each byte changed in turn.
TEST(CoreApi, ACheckWithoutPixelsFindsWhatTheFullDecodeFinds) {
  std::mt19937 random(7);
  zef::Options checkOnly;
  checkOnly.keepPixels = false;
  for (const Setting& setting : kSettings) {
    std::vector<cv::Mat> images, masks;
    for (int n = 0; n < 2; ++n) {
      images.push_back(RandomImage(random, 9 + n, 3, 1 + int(random() % setting.colours)));
      if (setting.masks) masks.push_back(RandomMask(random, 9 + n, 3));
    }
    const Bytes good = Encoded(images, masks, OptionsOf(setting.version, setting.alphaValues, setting.position));
    std::vector<Bytes> variants;
    for (size_t size = 0; size <= good.size(); ++size) variants.emplace_back(good.begin(), good.begin() + long(size));
    for (size_t at = 0; at < good.size(); ++at) {
      variants.push_back(good);
      variants.back()[at] ^= 0x5A;
    }
    size_t refused = 0;
    for (const Bytes& bytes : variants) {
      const zef::DecodeResult full = zef::Decode(bytes.data(), bytes.size());
      const zef::DecodeResult check = zef::Decode(bytes.data(), bytes.size(), checkOnly);
      ASSERT_EQ(check.message, full.message) << "version " << setting.version << ", " << bytes.size() << " bytes";
      ASSERT_EQ(check.error, full.error);
      refused += !full.Ok();
      ASSERT_EQ(check.images.size(), full.images.size());
      for (size_t n = 0; n < full.images.size(); ++n) {
        const zef::DecodedImage &a = check.images[n], &b = full.images[n];
        EXPECT_EQ(std::tie(a.number, a.width, a.height, a.paletteColours, a.dataBytes),
                  std::tie(b.number, b.width, b.height, b.paletteColours, b.dataBytes));
        EXPECT_TRUE(a.pixels.empty() && a.alphaCodes.empty());
      }
    }
    // The changed bytes reach the image data, not only the header.
    EXPECT_GT(refused, good.size());
  }
}

// Version 3 and version 2 archives of one image of 2000 x 100 and one of
// 100 x 100, both one colour.
std::vector<Bytes> TwoImageArchives() {
  const std::vector<cv::Mat> images = {FlatImage(2000, 100, {1, 2, 3}), FlatImage(100, 100, {1, 2, 3})};
  return {Encoded(images, {}, OptionsOf(3)), Encoded(images, {}, OptionsOf(2))};
}

TEST(CoreApi, LimitsRefuseLargeImages) {
  struct Case {
    uint64_t pixels, bytes;
    bool refused;
  } cases[] = {
      {0, 0, false},                       // no limits
      {200000, 0, false},                  // the larger image just fits
      {199999, 0, true},                   // one pixel too many
      {0, 3 * 210000, false},              // both images' bytes fit
      {0, 3 * 209999, true},               // the second passes the total
      {0, 3 * 199999, true},               // the first passes it alone
  };
  for (const Bytes& archive : TwoImageArchives()) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << c.pixels << " pixels, " << c.bytes << " bytes");
      zef::Options options;
      options.limits = {c.pixels, c.bytes};
      const zef::DecodeResult result = zef::Decode(archive.data(), archive.size(), options);
      EXPECT_EQ(result.error, c.refused ? zef::Error::kImageTooLarge : zef::Error::kNone);
      EXPECT_EQ(result.message, c.refused ? "error in image data (image too large)" : "");
      zef::ZefImgReader reader;
      reader.SetLimits(c.pixels, c.bytes);
      EXPECT_EQ(reader.ReadMemory(archive.data(), archive.size()).has_value(), !c.refused);
      EXPECT_EQ(reader.GetError(), c.refused ? "error in image data (image too large)" : "");
    }
  }
}

// Runs `work` in a child process whose address space may grow by `room`
// bytes at most; its text comes back.
std::string InLimitedMemory(uint64_t room, const std::function<std::string()>& work) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return "no pipe";
  const pid_t child = fork();
  if (child == 0) {
    close(pipeEnds[0]);
    std::ifstream statm("/proc/self/statm");
    uint64_t pages = 0;
    statm >> pages;
    const rlimit limit{rlim_t(pages * uint64_t(sysconf(_SC_PAGESIZE)) + room),
                       rlim_t(pages * uint64_t(sysconf(_SC_PAGESIZE)) + room)};
    setrlimit(RLIMIT_AS, &limit);
    const std::string text = work();
    if (write(pipeEnds[1], text.data(), text.size()) < 0) _exit(2);
    _exit(0);
  }
  close(pipeEnds[1]);
  std::string text;
  char buffer[256];
  for (ssize_t got; (got = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, size_t(got));
  close(pipeEnds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return text;
}

TEST(CoreApi, LimitsAreCheckedBeforeTheMemoryIsTaken) {
  if (!kAddressSpaceLimits) GTEST_SKIP() << "address space limits do not work under the sanitizer";
  // 65534 x 6000 one-colour pixels: 1.1 GB decoded from an archive of 3 MB,
  // decoded where only 256 MB more can be had.
  std::vector<uint8_t> row(65534 * 3, 0x40);
  const zef::EncodeResult archive = zef::Encode({{row.data(), 65534, 6000, 0}}, {}, OptionsOf(3));
  ASSERT_TRUE(archive.Ok()) << archive.message;
  const auto decodeWith = [&](zef::DecodeLimits limits) {
    return InLimitedMemory(256u << 20, [&] {
      zef::Options options;
      options.limits = limits;
      return zef::Decode(archive.bytes.data(), archive.bytes.size(), options).message;
    });
  };
  // Without a limit the image cannot be made: version 3 reports its data.
  EXPECT_EQ(decodeWith({}), "wrong image data");
  EXPECT_EQ(decodeWith({0, 512u << 20}), "error in image data (image too large)");
  EXPECT_EQ(decodeWith({100000000, 0}), "error in image data (image too large)");
  // A check that keeps no pixels needs none of that memory.
  const std::string checked = InLimitedMemory(256u << 20, [&] {
    zef::Options options;
    options.keepPixels = false;
    const zef::DecodeResult result = zef::Decode(archive.bytes.data(), archive.bytes.size(), options);
    if (!result.Ok()) return result.message;
    return std::to_string(result.images.at(0).width) + " x " + std::to_string(result.images.at(0).height);
  });
  EXPECT_EQ(checked, "65534 x 6000");
}

// A file too short for the image it announces keeps the reader's message
// under a limit; the limit refuses what the bytes could decode to.
TEST(CoreApi, DecodeLimitSpeaksOnlyAfterTheReadersChecks) {
  const zef::DecodeLimits limit{0, 512u << 20};
  const auto message = [&limit](Bytes bytes) {
    zef::Options options;
    options.limits = limit;
    return zef::Decode(bytes.data(), bytes.size(), options).message;
  };
  // Version 1: signature, version, width, height, header bytes, end of header.
  const auto version1 = [](uint32_t width, uint32_t height, uint8_t compressed) {
    Bytes bytes(zef::kFileSignature, zef::kFileSignature + 3);
    bytes.insert(bytes.end(), {1, 0});
    for (const uint32_t value : {width, height}) {
      for (int shift = 0; shift < 32; shift += 8) bytes.push_back(uint8_t(value >> shift));
    }
    const zef::HeaderBytes& header = zef::kVersion1Header;
    bytes.insert(bytes.end(), {header.channelCount, header.valueSize, header.colourBits, header.alphaBits,
                               header.alphaMode, header.alphaPosition, compressed});
    bytes.insert(bytes.end(), zef::kEndOfHeader, zef::kEndOfHeader + 3);
    bytes.resize(30, 0x11);
    return bytes;
  };
  EXPECT_EQ(message(version1(65535, 65535, 0)), "error in image data (too short)");
  EXPECT_EQ(message(version1(UINT32_MAX, UINT32_MAX, 1)), "error in image data (too short)");
  // Version 3: a record of 100000 x 100000 in a tiny file.
  Bytes small = Encoded({cv::Mat(2, 2, CV_8UC3, cv::Scalar(16, 32, 48))}, {}, OptionsOf(3, 0));
  Bytes huge = small;
  for (const size_t at : {size_t(25), size_t(29)}) {
    for (int shift = 0; shift < 32; shift += 8) huge[at + size_t(shift / 8)] = uint8_t(100000 >> shift);
  }
  EXPECT_EQ(message(huge), "wrong image data");
  // A real bomb, 65534 x 4000 in runs of 255 from a few MB, is still refused.
  std::vector<uint8_t> row(65534 * 3, 0x40);
  const zef::EncodeResult bomb = zef::Encode({{row.data(), 65534, 4000, 0}}, {}, OptionsOf(3));
  ASSERT_TRUE(bomb.Ok()) << bomb.message;
  EXPECT_EQ(message(bomb.bytes), "error in image data (image too large)");
  zef::ZefImgReader reader;
  reader.SetLimits(0, 512u << 20);
  EXPECT_FALSE(reader.ReadMemory(bomb.bytes.data(), bomb.bytes.size()));
  EXPECT_EQ(reader.GetError(), "error in image data (image too large)");
}

TEST(CoreApi, RunningOutOfMemoryWhileEncodingSaysSo) {
  if (!kAddressSpaceLimits) GTEST_SKIP() << "address space limits do not work under the sanitizer";
  // Every pixel differs from its neighbour: 2 bytes of image data each,
  // more than the 64 MB that can be had.
  std::vector<uint8_t> row(20000 * 3);
  for (size_t i = 0; i < row.size(); i += 6) row[i] = 0xF0;
  const std::string message = InLimitedMemory(64u << 20, [&] {
    return zef::Encode({{row.data(), 20000, 4000, 0}}, {}, OptionsOf(3, 0)).message;
  });
  EXPECT_EQ(message, "out of memory");
}

}  // namespace

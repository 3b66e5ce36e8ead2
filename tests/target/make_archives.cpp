// Writes the archives that target_draw.c draws on the target and on the
// host as one C file: versions 1 to 4, made by the library's writers (and
// by the test helpers for the forms only hand-built archives hold: version
// 1, raw version 2 data, version 4 of every kind of op and index width).
// Small images, a few per archive, of sizes that meet the canvas's edges
// in every way: smaller than it, wider, taller, one pixel.
//   zef_target_archives OUTPUT.c
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "DeviceArchives.h"
#include "writer/ZefEncode.h"
#include "writer/ZefImgWriter.h"

using namespace zeftest;

namespace {

struct Named {
  std::string name;
  Bytes bytes;
};

// Image sizes: the canvas of target_draw.c is 40 x 30.
const cv::Size kSizes[] = {{13, 9}, {1, 1}, {33, 21}, {70, 3}, {5, 45}};

Bytes Written(int version, int alphaValues, zef::AlphaPosition position, const std::vector<cv::Mat>& images,
              const std::vector<cv::Mat>& masks) {
  zef::ZefImgWriter writer;
  writer.SetVersion(version);
  if (version == 3) writer.setAlpha(alphaValues);
  writer.SetAlphaPosition(position);
  writer.SetStartIndex(7);
  std::optional<Bytes> archive = writer.WriteMemory(images, masks);
  if (!archive) {
    std::fprintf(stderr, "zef_target_archives: the writer refused: %s\n", writer.GetError().c_str());
    std::exit(1);
  }
  return *archive;
}

// A mask of every kind of alpha: 0, 255 and values between, in stretches.
cv::Mat StretchMask(std::mt19937& random, int width, int height) {
  cv::Mat mask(height, width, CV_8UC1);
  uint8_t value = 255;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (random() % 5 == 0) {
        const uint32_t kind = random() % 3;
        value = kind == 0 ? 0 : kind == 1 ? 255 : uint8_t(random());
      }
      mask.at<uint8_t>(y, x) = value;
    }
  }
  return mask;
}

void AddWritten(std::vector<Named>& out, std::mt19937& random) {
  struct Setting {
    const char* name;
    int version, alphaValues;
    bool masks;
    zef::AlphaPosition position;
  };
  const Setting settings[] = {
      {"v2 runs", 2, 0, false, zef::AlphaPosition::kHigh},
      {"v2 runs, masks", 2, 0, true, zef::AlphaPosition::kHigh},
      {"v2 runs, masks, alpha low", 2, 0, true, zef::AlphaPosition::kLow},
      {"v3 no alpha", 3, 0, false, zef::AlphaPosition::kHigh},
      {"v3 1-bit alpha", 3, 2, true, zef::AlphaPosition::kHigh},
      {"v3 2-bit alpha", 3, 4, true, zef::AlphaPosition::kHigh},
      {"v3 2-bit alpha low", 3, 4, true, zef::AlphaPosition::kLow},
  };
  for (const Setting& s : settings) {
    std::vector<cv::Mat> images, masks;
    for (const cv::Size& size : kSizes) {
      images.push_back(RandomImage(random, size.width, size.height, s.masks ? 40 : 200));
      if (s.masks) masks.push_back(StretchMask(random, size.width, size.height));
    }
    out.push_back({s.name, Written(s.version, s.alphaValues, s.position, images, masks)});
  }
}

void AddHandBuilt(std::vector<Named>& out, std::mt19937& random) {
  // version 1: one image of colour words, raw and in runs
  Bytes raw;
  for (int n = 0; n < 11 * 7; ++n) PutU16(raw, uint16_t(random()));
  out.push_back({"v1 raw", ArchiveV1(zef::kVersion1Header, {11, 7, raw})});
  std::vector<Line> lines;
  for (int y = 0; y < 23; ++y) {
    Line line;
    for (int x = 0; x < 50;) {
      const int length = std::min(50 - x, 1 + int(random() % 9));
      line.push_back({uint16_t(random()), uint8_t(length)});
      x += length;
    }
    lines.push_back(line);
  }
  zef::HeaderBytes runs = zef::kVersion1Header;
  runs.compressionFlag = 1;
  out.push_back({"v1 runs", ArchiveV1(runs, {50, 23, RunData(lines, true)})});
  // version 2 without compression
  std::vector<ImageSpec> images;
  for (const cv::Size& size : kSizes) {
    Bytes data;
    for (int n = 0; n < size.area(); ++n) PutU16(data, uint16_t(random()));
    images.push_back({uint32_t(size.width), uint32_t(size.height), data});
  }
  out.push_back({"v2 raw", ArchiveV2(WordHeader(0), images)});
  // version 4 with ops of every kind at index widths 1 to 8
  images.clear();
  uint32_t bits = 1;
  for (const cv::Size& size : kSizes) {
    for (const uint32_t b : {bits, bits + 1}) {
      const std::vector<V4Entry> entries = RandomV4Entries(random, size_t(1) << b);
      std::vector<V4Entry> shown;
      images.push_back({uint32_t(size.width), uint32_t(size.height),
                        RandomV4Data(random, uint32_t(size.width), uint32_t(size.height), b, entries, shown)});
    }
    bits = bits % 7 + 1;
  }
  out.push_back({"v4 ops of every kind", ArchiveV4(3, images)});
}

void AddIndexed(std::vector<Named>& out, std::mt19937& random) {
  // as the library writes version 4: palettes of 2 to 256 entries, with
  // transparent, opaque and partly transparent ones
  std::vector<zef::IndexedImage> images;
  const int entryCounts[] = {2, 5, 17, 256, 90};
  for (size_t n = 0; n < std::size(kSizes); ++n) {
    const cv::Size size = kSizes[n];
    const int count = entryCounts[n];
    std::vector<zef::PaletteEntry> palette;
    for (int e = 0; e < count; ++e) {
      const uint32_t kind = random() % 3;
      palette.push_back({uint8_t(random()), uint8_t(random()), uint8_t(random()),
                         uint8_t(kind == 0 ? 0 : kind == 1 ? 255 : random())});
    }
    std::vector<uint8_t> indices(size_t(size.area()));
    uint8_t index = 0;
    for (size_t p = 0; p < indices.size(); ++p) {
      // every entry once (a 256-entry image needs 8-bit indices), then stretches
      if (p < size_t(count)) {
        index = uint8_t(p);
      } else if (random() % 3 == 0) {
        index = uint8_t(random() % uint32_t(count));
      }
      indices[p] = index;
    }
    images.push_back({size.width, size.height, palette, indices});
  }
  zef::Options options;
  options.startIndex = 11;
  zef::EncodeResult result = zef::EncodeIndexed(images, options);
  if (!result.Ok()) {
    std::fprintf(stderr, "zef_target_archives: EncodeIndexed refused: %s\n", result.message.c_str());
    std::exit(1);
  }
  out.push_back({"v4 as the library writes it", result.bytes});
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: zef_target_archives OUTPUT.c\n");
    return 2;
  }
  std::mt19937 random(20261208);
  std::vector<Named> archives;
  AddHandBuilt(archives, random);
  AddWritten(archives, random);
  AddIndexed(archives, random);

  std::ofstream file(argv[1]);
  file << "/* Generated by zef_target_archives (tests/target/make_archives.cpp). */\n"
          "#include \"target_archives.h\"\n\n";
  for (size_t n = 0; n < archives.size(); ++n) {
    file << "static const uint8_t archive" << n << "[" << archives[n].bytes.size()
         << "] __attribute__((aligned(4))) = {";
    for (size_t b = 0; b < archives[n].bytes.size(); ++b) {
      file << (b % 20 == 0 ? "\n   " : "") << ' ' << int(archives[n].bytes[b]) << ',';
    }
    file << "\n};\n";
  }
  file << "\nconst struct target_archive target_archives[] = {\n";
  for (size_t n = 0; n < archives.size(); ++n) {
    file << "    {\"" << archives[n].name << "\", archive" << n << ", sizeof archive" << n << "},\n";
  }
  file << "};\nconst uint32_t target_archive_count = " << archives.size() << ";\n";
  file.close();
  if (!file) {
    std::fprintf(stderr, "zef_target_archives: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}

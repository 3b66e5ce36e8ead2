// Writes the picture sets of the target benchmark (bench/target/run) as one
// blob that target_bench.c links in (sets.h gives its layout): the icons
// and sprites of zef_fidelity and draw565 (bench/FidelitySets.cpp), the
// first ICONS and SPRITES of them, and a tall 320 x 480 picture (icons on
// a gradient, opaque) for drawing in bands. Each set as version 3 (zef
// pack's defaults), version 4 (the library's quantizer at the default
// quality, EncodeIndexed), and per picture its RGB565A8 plane and that
// plane's LZ4 (the baselines).
//   zef_target_sets OUTPUT.bin FOLDER [ICONS SPRITES]
// FOLDER takes the PNG files that zef pack reads.
#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bench/FidelitySets.h"
#include "bench/IconSet.h"
#include "bench/PackedSets.h"
#include "bench/PeerFormats.h"
#include "bench/target/sets.h"

using namespace zefbench;

namespace {

constexpr double kDefaultQuality = 40.0;  // draw565's and zef pack's

struct Blob {
  std::vector<uint8_t> bytes = std::vector<uint8_t>(sizeof(bench_sets));
  uint32_t Put(const void* data, size_t size) {
    while (bytes.size() % 4) bytes.push_back(0);
    const uint32_t at = uint32_t(bytes.size());
    bytes.insert(bytes.end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    return at;
  }
  uint32_t Put(const std::vector<uint8_t>& data) { return Put(data.data(), data.size()); }
};

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "zef_target_sets: %s\n", what.c_str());
  std::exit(1);
}

bench_set AddSet(Blob& blob, const PictureSet& set, const std::string& folder) {
  bench_set out{};
  std::snprintf(out.name, sizeof out.name, "%s", set.name.c_str());
  out.count = uint32_t(set.pictures.size());
  std::string error;
  const std::vector<uint8_t> version3 = PackSet(set, folder + "/" + set.name, {}, &error);
  if (version3.empty()) Fail(error);
  const std::vector<uint8_t> version4 = Version4Archive(set, kDefaultQuality, &error);
  if (version4.empty()) Fail(error);
  out.version3 = blob.Put(version3);
  out.version3_size = uint32_t(version3.size());
  out.version4 = blob.Put(version4);
  out.version4_size = uint32_t(version4.size());
  std::vector<bench_picture> pictures;
  for (const cv::Mat& picture : set.pictures) {
    const std::vector<uint8_t> plane = Rgb565A8Plane(picture);
    const std::vector<uint8_t> lz4 = Lz4Compress(plane);
    if (lz4.empty()) Fail("LZ4 refused a picture of " + set.name);
    bench_picture p{uint32_t(picture.cols), uint32_t(picture.rows), blob.Put(plane), blob.Put(lz4),
                    uint32_t(lz4.size())};
    pictures.push_back(p);
  }
  out.pictures = blob.Put(pictures.data(), pictures.size() * sizeof(bench_picture));
  std::printf("%-8s %5u pictures, %9zu pixels: version 3 %8zu bytes, version 4 %8zu bytes\n", out.name,
              out.count, [&] {
                size_t pixels = 0;
                for (const cv::Mat& picture : set.pictures) pixels += picture.total();
                return pixels;
              }(),
              version3.size(), version4.size());
  return out;
}

// A 320 x 480 screen: a vertical gradient with a grid of 48 px icons over it.
PictureSet TallPicture() {
  constexpr int kWidth = 320, kHeight = 480, kSide = 48, kStep = 64;
  cv::Mat screen(kHeight, kWidth, CV_8UC4);
  for (int y = 0; y < kHeight; ++y) {
    const double t = double(y) / (kHeight - 1);
    screen.row(y).setTo(cv::Scalar(200 - 150 * t, 120 + 60 * t, 40 + 120 * t, 255));
  }
  uint32_t number = 0;
  for (int top = 8; top + kSide <= kHeight; top += kStep) {
    for (int left = 8; left + kSide <= kWidth; left += kStep) {
      const Icon icon = MakeIcon(number++, kSide);
      for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
          const double a = icon.alpha.at<uint8_t>(y, x) / 255.0;
          cv::Vec4b& pixel = screen.at<cv::Vec4b>(top + y, left + x);
          const cv::Vec3b source = icon.bgr.at<cv::Vec3b>(y, x);
          for (int c = 0; c < 3; ++c) pixel[c] = cv::saturate_cast<uint8_t>(source[c] * a + pixel[c] * (1 - a));
        }
      }
    }
  }
  return {"tall", {screen}};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 5) {
    std::fprintf(stderr, "usage: zef_target_sets OUTPUT.bin FOLDER [ICONS SPRITES]\n");
    return 2;
  }
  const std::string folder = argv[2];
  PictureSet icons = FidelityIcons(), sprites = FidelitySprites();
  if (argc == 5) {
    icons.pictures.resize(std::min(icons.pictures.size(), size_t(std::stoul(argv[3]))));
    sprites.pictures.resize(std::min(sprites.pictures.size(), size_t(std::stoul(argv[4]))));
  }
  Blob blob;
  bench_sets head{};
  head.magic = BENCH_SETS_MAGIC;
  head.set_count = BENCH_SET_COUNT;
  head.sets[0] = AddSet(blob, icons, folder);
  head.sets[1] = AddSet(blob, sprites, folder);
  head.sets[2] = AddSet(blob, TallPicture(), folder);
  std::memcpy(blob.bytes.data(), &head, sizeof head);
  std::ofstream file(argv[1], std::ios::binary);
  file.write(reinterpret_cast<const char*>(blob.bytes.data()), std::streamsize(blob.bytes.size()));
  file.close();
  if (!file) Fail(std::string("cannot write ") + argv[1]);
  std::printf("%zu bytes in all\n", blob.bytes.size());
  return 0;
}

// Composes the firmware example's screen anew from the library's decode
// (colours and alpha, any archive version) and the blend formula of
// zefdec_draw, and compares it with the picture the example wrote.
//   zef_screen_check ARCHIVE SCREEN.ppm DRAWS.txt PICTURES
// DRAWS.txt is the example's standard output: "sprite <position> <NAME> at
// (<x>, <y>)" per sprite, back to front. The background is the example's
// gradient. Exit 0 when every pixel agrees, the scene shows what it is meant
// to (clipping at all four edges, overlaps, blended pixels), and each name
// drew its own picture: the image at the position is as large as
// PICTURES/<name>.png (the example pictures all differ in size).
//   zef_screen_check --flat PICTURE.png RED GREEN BLUE
// writes an 8 x 8 picture of one colour, so that the test needs no other
// program to make one.
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "archive/ZefDecode.h"

namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;

struct Sprite {
  cv::Mat bgr;                 // channels n x 16
  std::vector<uint8_t> alpha;  // per pixel, row by row
};

struct Draw {
  uint32_t index;
  char name[32];
  int x, y;
};

// Width and height from a PNG's header, or 0 x 0.
cv::Size PngSize(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  unsigned char head[24] = {};
  in.read(reinterpret_cast<char*>(head), sizeof head);
  if (in.gcount() != sizeof head) return {};
  const auto at = [&](int i) { return int(head[i]) << 24 | head[i + 1] << 16 | head[i + 2] << 8 | head[i + 3]; };
  return {at(16), at(20)};
}

// As examples/firmware/main.c clears the screen.
uint16_t Background(int x, int y) {
  const uint32_t r = uint32_t(x) * 31 / (kWidth - 1), g = uint32_t(y) * 63 / (kHeight - 1), b = 12;
  return uint16_t(r << 11 | g << 5 | b);
}

uint32_t Widen(uint32_t value, int bits) { return value << (8 - bits) | value >> (2 * bits - 8); }

uint32_t Blend(uint32_t source, uint32_t canvas, uint32_t alpha) {
  return (source * alpha + canvas * (255 - alpha) + 127) / 255;
}

uint16_t Put(uint16_t canvas, const cv::Vec3b& bgr, uint32_t alpha) {
  const uint32_t r = Widen(canvas >> 11, 5), g = Widen(canvas >> 5 & 63, 6), b = Widen(canvas & 31, 5);
  const uint32_t outR = Blend(bgr[2], r, alpha), outG = Blend(bgr[1], g, alpha), outB = Blend(bgr[0], b, alpha);
  return uint16_t((outR >> 3) << 11 | (outG >> 2) << 5 | outB >> 3);
}

// The library core reads every archive version; the device decoder must
// agree with it.
bool ReadSprites(const std::string& file, std::vector<Sprite>& sprites) {
  const zef::DecodeResult decoded = zef::DecodeFile(file);
  if (!decoded.Ok()) return false;
  for (const zef::DecodedImage& image : decoded.images) {
    Sprite sprite;
    sprite.bgr = cv::Mat(int(image.height), int(image.width), CV_8UC3, const_cast<uint8_t*>(image.pixels.data())).clone();
    sprite.alpha.assign(image.pixels.size() / 3, 255);
    for (size_t p = 0; p < image.alphaCodes.size(); ++p) {
      sprite.alpha[p] = zef::Alpha8(image.alphaCodes[p], decoded.info.alphaBits);
    }
    sprites.push_back(std::move(sprite));
  }
  return true;
}

bool ReadPpm(const std::string& file, std::vector<uint8_t>& rgb) {
  std::ifstream in(file, std::ios::binary);
  std::string magic;
  int width = 0, height = 0, maximum = 0;
  in >> magic >> width >> height >> maximum;
  in.get();
  if (magic != "P6" || width != kWidth || height != kHeight || maximum != 255) return false;
  rgb.resize(size_t(kWidth) * kHeight * 3);
  in.read(reinterpret_cast<char*>(rgb.data()), std::streamsize(rgb.size()));
  return in.gcount() == std::streamsize(rgb.size()) && in.peek() == EOF;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::string(argv[1]) == "--flat") {
    const cv::Mat flat(8, 8, CV_8UC3, cv::Scalar(std::atoi(argv[5]), std::atoi(argv[4]), std::atoi(argv[3])));
    return cv::imwrite(argv[2], flat) ? 0 : 1;
  }
  if (argc != 5) {
    std::cerr << "usage: zef_screen_check ARCHIVE SCREEN.ppm DRAWS.txt PICTURES\n";
    return 2;
  }
  std::vector<Sprite> sprites;
  if (!ReadSprites(argv[1], sprites)) {
    std::cerr << argv[1] << ": not read\n";
    return 1;
  }
  std::vector<Draw> draws;
  std::ifstream list(argv[3]);
  for (std::string line; std::getline(list, line);) {
    Draw draw{};
    if (std::sscanf(line.c_str(), "sprite %u %31s at (%d, %d)", &draw.index, draw.name, &draw.x,
                    &draw.y) != 4 ||
        draw.index >= sprites.size()) {
      std::cerr << argv[3] << ": unexpected line: " << line << "\n";
      return 1;
    }
    std::string file = draw.name;
    for (char& c : file) c = char(std::tolower(static_cast<unsigned char>(c)));
    const cv::Size picture = PngSize(std::string(argv[4]) + "/" + file + ".png");
    if (picture.area() == 0 || picture != sprites[draw.index].bgr.size()) {
      std::cerr << draw.name << " drew image " << draw.index << " of " << sprites[draw.index].bgr.cols
                << " x " << sprites[draw.index].bgr.rows << ", not its picture of " << picture.width
                << " x " << picture.height << "\n";
      return 1;
    }
    draws.push_back(draw);
  }

  std::vector<uint16_t> screen(size_t(kWidth) * kHeight);
  std::vector<int> layers(screen.size(), 0);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) screen[size_t(y) * kWidth + x] = Background(x, y);
  }
  bool left = false, top = false, right = false, bottom = false;
  int blended = 0;
  for (const Draw& draw : draws) {
    const Sprite& sprite = sprites[draw.index];
    left |= draw.x < 0;
    top |= draw.y < 0;
    right |= draw.x + sprite.bgr.cols > kWidth;
    bottom |= draw.y + sprite.bgr.rows > kHeight;
    for (int v = 0; v < sprite.bgr.rows; ++v) {
      for (int u = 0; u < sprite.bgr.cols; ++u) {
        const int x = draw.x + u, y = draw.y + v;
        if (x < 0 || y < 0 || x >= kWidth || y >= kHeight) continue;
        const uint8_t alpha = sprite.alpha[size_t(v) * sprite.bgr.cols + u];
        if (alpha == 0) continue;
        uint16_t& pixel = screen[size_t(y) * kWidth + x];
        pixel = Put(pixel, sprite.bgr.at<cv::Vec3b>(v, u), alpha);
        blended += alpha < 255 ? 1 : 0;
        ++layers[size_t(y) * kWidth + x];
      }
    }
  }
  int overlapped = 0;
  for (const int count : layers) overlapped += count > 1 ? 1 : 0;
  if (!left || !top || !right || !bottom || overlapped == 0 || blended == 0) {
    std::cerr << "the scene does not show clipping at every edge, overlaps and blending\n";
    return 1;
  }

  std::vector<uint8_t> rgb;
  if (!ReadPpm(argv[2], rgb)) {
    std::cerr << argv[2] << ": not a " << kWidth << " x " << kHeight << " PPM picture\n";
    return 1;
  }
  int differences = 0;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const uint16_t p = screen[size_t(y) * kWidth + x];
      const uint8_t expected[3] = {uint8_t(Widen(p >> 11, 5)), uint8_t(Widen(p >> 5 & 63, 6)),
                                   uint8_t(Widen(p & 31, 5))};
      const uint8_t* got = &rgb[(size_t(y) * kWidth + x) * 3];
      if (got[0] == expected[0] && got[1] == expected[1] && got[2] == expected[2]) continue;
      if (differences++ < 5) {
        std::cerr << "pixel (" << x << ", " << y << "): got " << int(got[0]) << "," << int(got[1])
                  << "," << int(got[2]) << ", expected " << int(expected[0]) << ","
                  << int(expected[1]) << "," << int(expected[2]) << "\n";
      }
    }
  }
  if (differences > 0) {
    std::cerr << differences << " pixels differ\n";
    return 1;
  }
  std::cout << draws.size() << " sprites, " << overlapped << " pixels overlapped, " << blended
            << " blended: the screen is the reader's\n";
  return 0;
}

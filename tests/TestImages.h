// Small builders for the images, masks and files that the tests need.
#pragma once

#include <opencv2/core.hpp>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace zeftest {

using Bytes = std::vector<uint8_t>;

// A width x height BGR image whose pixel (x, y) is colourOf(x, y).
template <typename ColourOf>
cv::Mat MakeImage(int width, int height, ColourOf colourOf) {
  cv::Mat image(height, width, CV_8UC3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) image.at<cv::Vec3b>(y, x) = colourOf(x, y);
  }
  return image;
}

inline cv::Mat FlatImage(int width, int height, cv::Vec3b colour) {
  return cv::Mat(height, width, CV_8UC3, cv::Scalar(colour[0], colour[1], colour[2]));
}

// An image of exactly `colours` distinct 4-bit colours, one per pixel in a row.
inline cv::Mat ImageWithColours(int colours) {
  return MakeImage(colours, 1, [](int x, int) {
    return cv::Vec3b(uint8_t((x & 15) << 4), uint8_t(((x >> 4) & 15) << 4), uint8_t(((x >> 8) & 15) << 4));
  });
}

inline cv::Mat FlatMask(int width, int height, uint8_t value) {
  return cv::Mat(height, width, CV_8UC1, cv::Scalar(value));
}

// Random image with short runs of at most `colours` colours, and its mask.
inline cv::Mat RandomImage(std::mt19937& random, int width, int height, int colours) {
  std::vector<cv::Vec3b> palette;
  for (int i = 0; i < colours; ++i) {
    palette.emplace_back(uint8_t(random()), uint8_t(random()), uint8_t(random()));
  }
  cv::Mat image(height, width, CV_8UC3);
  for (int y = 0; y < height; ++y) {
    cv::Vec3b colour = palette[random() % palette.size()];
    for (int x = 0; x < width; ++x) {
      if (random() % 4 == 0) colour = palette[random() % palette.size()];
      image.at<cv::Vec3b>(y, x) = colour;
    }
  }
  return image;
}

inline cv::Mat RandomMask(std::mt19937& random, int width, int height) {
  cv::Mat mask(height, width, CV_8UC1);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) mask.at<uint8_t>(y, x) = uint8_t(random());
  }
  return mask;
}

// The source as a decoder gives it back: the low four bits of every channel cleared.
inline cv::Mat Quantised(const cv::Mat& image) {
  cv::Mat result = image.clone();
  result.forEach<cv::Vec3b>([](cv::Vec3b& pixel, const int*) {
    for (int c = 0; c < 3; ++c) pixel[c] &= 0xF0;
  });
  return result;
}

inline Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline uint32_t U32At(const Bytes& bytes, size_t at) {
  return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
         uint32_t(bytes[at + 3]) << 24;
}

inline uint16_t U16At(const Bytes& bytes, size_t at) {
  return uint16_t(bytes[at] | bytes[at + 1] << 8);
}

// A fresh folder per test, removed afterwards.
class TempDir {
 public:
  TempDir() {
    std::random_device entropy;
    path_ = std::filesystem::temp_directory_path() /
            ("zeftest-" + std::to_string(entropy()) + "-" + std::to_string(entropy()));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace zeftest

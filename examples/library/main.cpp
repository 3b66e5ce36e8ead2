// Encodes two small images with their masks into an archive in memory,
// saves it as icons.zef and reads the file back.
#include <archive/ZefDecode.h>
#include <writer/ZefEncodeMat.h>

#include <opencv2/core.hpp>

#include <cstdio>
#include <fstream>

int main() {
  // An orange 4x3 button with transparent corners and a blue 2x2 dot whose
  // lower row is half transparent. Pixels are blue, green, red; masks are
  // 8-bit alpha.
  const cv::Mat button(3, 4, CV_8UC3, cv::Scalar(0, 128, 255));
  cv::Mat buttonMask(3, 4, CV_8UC1, cv::Scalar(255));
  for (const cv::Point corner : {cv::Point(0, 0), cv::Point(3, 0), cv::Point(0, 2), cv::Point(3, 2)}) {
    buttonMask.at<uint8_t>(corner) = 0;
  }
  const cv::Mat dot(2, 2, CV_8UC3, cv::Scalar(255, 64, 0));
  const cv::Mat dotMask = (cv::Mat_<uint8_t>(2, 2) << 255, 255, 128, 128);

  zef::Options options;
  options.version = 3;       // a palette per image
  options.alphaValues = 4;   // 2 alpha bits per pixel
  options.startIndex = 100;  // the images are numbered 100 and 101
  const zef::EncodeResult encoded = zef::EncodeMats({button, dot}, {buttonMask, dotMask}, options);
  if (!encoded.Ok()) {
    std::fprintf(stderr, "%s\n", encoded.message.c_str());
    return 1;
  }
  std::ofstream file("icons.zef", std::ios::binary);
  file.write(reinterpret_cast<const char*>(encoded.bytes.data()), std::streamsize(encoded.bytes.size()));
  file.close();
  if (!file) {
    std::fprintf(stderr, "could not write icons.zef\n");
    return 1;
  }
  std::printf("icons.zef: %zu bytes\n", encoded.bytes.size());

  // Archives from elsewhere are untrusted: limit what decoding may take.
  zef::Options readOptions;
  readOptions.limits.maxPixelsPerImage = 256 * 256;
  const zef::DecodeResult decoded = zef::DecodeFile("icons.zef", readOptions);
  if (!decoded.Ok()) {
    std::fprintf(stderr, "%s\n", decoded.message.c_str());
    return 1;
  }
  for (const zef::DecodedImage& image : decoded.images) {
    // Pixel (1, 1): 4-bit channels read back as n * 16, its alpha code as 8-bit alpha.
    const size_t at = image.width + 1;
    std::printf("image %u: %ux%u, %u palette colours, %llu data bytes, pixel (1,1) BGR %u %u %u alpha %u\n",
                image.number, image.width, image.height, image.paletteColours,
                static_cast<unsigned long long>(image.dataBytes), image.pixels[at * 3], image.pixels[at * 3 + 1],
                image.pixels[at * 3 + 2], zef::Alpha8(image.alphaCodes[at], decoded.info.alphaBits));
  }
  return 0;
}

// Loading pictures in any layout the image library reads into the two
// planes the archive takes: 8-bit colour (blue, green, red) and 8-bit alpha.
#pragma once

#include <opencv2/core.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace zef::tool {

struct Picture {
  cv::Mat bgr;    // CV_8UC3
  cv::Mat alpha;  // CV_8UC1; empty when the picture has no alpha channel
  bool translucent = false;  // some alpha value below 255
  uint64_t fileBytes = 0;
};

// Grey, grey with alpha, colour, colour with alpha and palette pictures
// (the library expands a palette with transparency to colour with alpha);
// 16-bit and floating-point channels are scaled to 8 bits with rounding.
// No value, with the cause in *error, when the file cannot be decoded.
std::optional<Picture> LoadPicture(const std::string& fileName, std::string* error);

// A mask file as the console tool takes it: grey as it stands, colour
// turned to grey, a picture's own alpha channel ignored.
// *fileBytes, when given, takes the file's size.
std::optional<cv::Mat> LoadMask(const std::string& fileName, std::string* error,
                                uint64_t* fileBytes = nullptr);

}  // namespace zef::tool

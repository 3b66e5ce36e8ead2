#include "zef/Picture.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <climits>
#include <new>
#include <vector>

#include "archive/FileBytes.h"

namespace zef::tool {

namespace {

constexpr double kSixteenToEight = 255.0 / 65535.0;
constexpr double kUnitToEight = 255.0;

// The picture with 8-bit channels; empty for a depth without a sensible scale.
cv::Mat ToEightBit(const cv::Mat& picture) {
  cv::Mat result;
  switch (picture.depth()) {
    case CV_8U:
      return picture;
    case CV_16U:
      picture.convertTo(result, CV_8U, kSixteenToEight);
      return result;
    case CV_32F:
    case CV_64F:
      picture.convertTo(result, CV_8U, kUnitToEight);
      return result;
    default:
      return {};
  }
}

std::string WhyNotRead(const std::string& fileName, FileRead read) {
  if (read == FileRead::kUnreadable) return "cannot read it (" + std::string(std::strerror(errno)) + ")";
  struct stat status {};
  if (fileName.find('\0') != std::string::npos || stat(fileName.c_str(), &status) != 0) return "no such file";
  if (S_ISDIR(status.st_mode)) return "is a folder, not a picture";
  return "not a regular file (a FIFO, device or socket is not read)";
}

cv::Mat Read(const std::string& fileName, std::string* error, uint64_t* fileBytes = nullptr) {
  // One open gives the size and the bytes, and the image library decodes
  // them from memory; its own message for a missing file would be a
  // warning on the console.
  std::vector<uint8_t> bytes;
  const FileRead read = ReadRegularFile(fileName, bytes);
  if (read != FileRead::kRead) {
    *error = fileName + ": " + WhyNotRead(fileName, read);
    return {};
  }
  if (fileBytes) *fileBytes = uint64_t(bytes.size());
  cv::Mat picture;
  if (read == FileRead::kRead && !bytes.empty()) {
    // A header over the bytes, not a copy of them.
    const cv::Mat encoded(1, int(std::min<size_t>(bytes.size(), INT32_MAX)), CV_8UC1, bytes.data());
    picture = cv::imdecode(encoded, cv::IMREAD_UNCHANGED);
  }
  if (picture.empty()) {
    *error = fileName + ": not a picture the image library can decode";
    return {};
  }
  cv::Mat eightBit = ToEightBit(picture);
  if (eightBit.empty() || eightBit.dims != 2 || eightBit.channels() > 4) {
    *error = fileName + ": unsupported pixel layout";
    return {};
  }
  return eightBit;
}

// Colour and alpha planes of a 4-channel 8-bit picture in one pass, as
// most icons come; true when some alpha value is below 255.
bool SplitColourAndAlpha(const cv::Mat& bgra, cv::Mat& bgr, cv::Mat& alpha) {
  bgr.create(bgra.size(), CV_8UC3);
  alpha.create(bgra.size(), CV_8UC1);
  uint8_t lowest = 255;
  for (int y = 0; y < bgra.rows; ++y) {
    const uint8_t* source = bgra.ptr<uint8_t>(y);
    uint8_t* colour = bgr.ptr<uint8_t>(y);
    uint8_t* opacity = alpha.ptr<uint8_t>(y);
    for (int x = 0; x < bgra.cols; ++x, source += 4, colour += 3) {
      colour[0] = source[0];
      colour[1] = source[1];
      colour[2] = source[2];
      opacity[x] = source[3];
      lowest = std::min(lowest, source[3]);
    }
  }
  return lowest < 255;
}

}  // namespace

std::optional<Picture> LoadPicture(const std::string& fileName, std::string* error) {
  try {
    Picture result;
    const cv::Mat picture = Read(fileName, error, &result.fileBytes);
    if (picture.empty()) return std::nullopt;
    switch (picture.channels()) {
      case 1:
        cv::cvtColor(picture, result.bgr, cv::COLOR_GRAY2BGR);
        break;
      case 2: {
        std::vector<cv::Mat> planes;
        cv::split(picture, planes);
        cv::cvtColor(planes[0], result.bgr, cv::COLOR_GRAY2BGR);
        result.alpha = planes[1];
        break;
      }
      case 3:
        result.bgr = picture;
        break;
      default:
        result.translucent = SplitColourAndAlpha(picture, result.bgr, result.alpha);
        return result;
    }
    if (!result.alpha.empty()) {
      double lowest = 0;
      cv::minMaxLoc(result.alpha, &lowest);
      result.translucent = lowest < 255;
    }
    return result;
  } catch (const cv::Exception& exception) {
    *error = fileName + ": " + exception.err;
  } catch (const std::bad_alloc&) {
    *error = fileName + ": out of memory";
  }
  return std::nullopt;
}

std::optional<cv::Mat> LoadMask(const std::string& fileName, std::string* error,
                                uint64_t* fileBytes) {
  try {
    const cv::Mat picture = Read(fileName, error, fileBytes);
    if (picture.empty()) return std::nullopt;
    cv::Mat mask;
    switch (picture.channels()) {
      case 1:
        return picture;
      case 2:
        cv::extractChannel(picture, mask, 0);
        return mask;
      case 3:
        cv::cvtColor(picture, mask, cv::COLOR_BGR2GRAY);
        return mask;
      default:
        cv::cvtColor(picture, mask, cv::COLOR_BGRA2GRAY);
        return mask;
    }
  } catch (const cv::Exception& exception) {
    *error = fileName + ": " + exception.err;
  } catch (const std::bad_alloc&) {
    *error = fileName + ": out of memory";
  }
  return std::nullopt;
}

}  // namespace zef::tool

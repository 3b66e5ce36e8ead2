#include "frontend/LoadImages.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <new>
#include <optional>
#include <string>

#include "frontend/Console.h"

namespace zef::frontend {

namespace {

// Only a regular file (links followed) goes to the decoder: a pipe would
// block it, a device might never end. A name with a NUL byte would be
// opened by its part before the NUL, which is another file.
bool IsRegularFile(const std::string& fileName) {
  if (fileName.find('\0') != std::string::npos) return false;
  struct stat status {};
  return stat(fileName.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// The name as the console shows it: up to a NUL byte, as printing a C
// string does.
std::string ShownName(const std::string& fileName) {
  return fileName.substr(0, fileName.find('\0'));
}

// An empty picture when the file cannot be read or decoded. IMREAD_COLOR
// always yields 8-bit, 3-channel pictures with the top row first, so source
// images never need a conversion or a flip.
cv::Mat LoadColourPicture(const std::string& fileName) {
  if (!IsRegularFile(fileName)) return {};
  try {
    return cv::imread(fileName, cv::IMREAD_COLOR);
  } catch (const cv::Exception&) {
  } catch (const std::bad_alloc&) {
  }
  return {};
}

// Bits of one channel value, as image records of the classic interface
// count them (not the library's depth code).
int BitsPerChannel(int depth) {
  switch (depth) {
    case CV_8U:
    case CV_8S:
      return 8;
    case CV_16U:
    case CV_16S:
    case CV_16F:
      return 16;
    case CV_32S:
    case CV_32F:
      return 32;
    default:
      return 64;
  }
}

// A one-channel copy of the picture; empty when memory runs out.
cv::Mat ToGrey(const cv::Mat& picture) {
  try {
    cv::Mat grey;
    cv::cvtColor(picture, grey, cv::COLOR_BGR2GRAY);
    return grey;
  } catch (const cv::Exception&) {
  } catch (const std::bad_alloc&) {
  }
  return {};
}

bool CheckColours(RunState& run, const std::string& fileName, const cv::Mat& image) {
  const std::optional<Palette> palette = run.writer.BuildPalette(image);
  if (run.writer.HasError() || !palette) {
    PrintLine(run.writer.GetError());
    return false;
  }
  const size_t limit = run.useMask ? kMaxColoursWithMask : kMaxColoursWithoutMask;
  if (palette->size() <= limit) return true;
  const std::string counts = " : Too many Colors (" + std::to_string(palette->size()) +
                             "). Only " + std::to_string(limit) + " different colors are allowed";
  if (run.useMask) {
    PrintLine("Error in Image " + fileName + counts + " for images with alpha information ");
  } else {
    PrintLine("An error occured while checking image " + fileName + counts +
              " for images without alpha information ");
  }
  return false;
}

bool LoadSourceImages(RunState& run) {
  PrintLine("Loading image files...");
  for (const std::string& name : run.imageFileNames) {
    PrintLine("Loading " + name);
    cv::Mat image = LoadColourPicture(name);
    if (image.empty()) {
      PrintLine("Could not load image " + ShownName(name) + "...");
      return false;
    }
    if (!CheckColours(run, name, image)) return false;
    run.totalSourceBytes += FileSize(name);
    run.sourceImages.push_back(std::move(image));
  }
  return true;
}

bool LoadMasks(RunState& run) {
  PrintLine("Loading mask files...");
  for (size_t j = 0; j < run.maskFileNames.size(); ++j) {
    const std::string& name = run.maskFileNames[j];
    PrintLine("Loading " + name);
    cv::Mat mask = LoadColourPicture(name);
    if (mask.empty()) {
      PrintLine("Could not load mask image " + ShownName(name) + "...");
      return false;
    }
    if (mask.size() != run.sourceImages[j].size()) {
      PrintLine("source image and source mask must have the same dimensions...");
      return false;
    }
    if (mask.type() != CV_8UC1) {
      PrintLine("converting Mask. From " + std::to_string(BitsPerChannel(mask.depth())) +
                " bpp and " + std::to_string(mask.channels()) +
                " channels to 8 bpp and 1 channel");
      mask = ToGrey(mask);
      if (mask.empty()) {
        PrintLine("Could not load mask image " + ShownName(name) + "...");
        return false;
      }
    }
    run.sourceMasks.push_back(std::move(mask));
    run.totalSourceBytes += FileSize(name);
  }
  return true;
}

}  // namespace

bool LoadImages(RunState& run) {
  if (!LoadSourceImages(run)) return false;
  if (run.maskFileNames.empty()) return true;
  return LoadMasks(run);
}

uint64_t FileSize(const std::string& fileName) {
  const int fd = open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  struct stat status {};
  const bool regular = fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
  close(fd);
  return regular ? static_cast<uint64_t>(status.st_size) : 0;
}

}  // namespace zef::frontend

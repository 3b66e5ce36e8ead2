#include "frontend/Display.h"

#include <opencv2/highgui.hpp>

#include <cstdlib>
#include <optional>
#include <vector>

#include "archive/ZefImgReader.h"
#include "frontend/Console.h"

namespace zef::frontend {

namespace {

constexpr int kRowStep = 30;
constexpr int kColumnBottom = 700;
constexpr int kSourceColumnStep = 80;
constexpr int kMaskOffsetX = 30;
constexpr int kArchiveLeft = 600;
constexpr int kArchiveColumnStep = 30;

struct WindowSystem {
  bool checked = false;
  bool available = false;
  bool anyOpen = false;
};

WindowSystem& Windows() {
  static WindowSystem windows;
  return windows;
}

bool EnvironmentSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// The window toolkit aborts the process when it cannot reach a display, so
// it is not even asked without one; the run goes on without windows.
bool WindowSystemAvailable() {
  WindowSystem& windows = Windows();
  if (!windows.checked) {
    windows.checked = true;
    windows.available = EnvironmentSet("DISPLAY") || EnvironmentSet("WAYLAND_DISPLAY");
    if (!windows.available) PrintLine("no window system available, images are not shown");
  }
  return windows.available;
}

// Opens the window at its place and shows a copy of the image in it. A
// window that the toolkit refuses is left out; the run goes on.
bool OpenWindow(const std::string& name, WindowPosition at, const cv::Mat& image) {
  if (!WindowSystemAvailable()) return false;
  try {
    cv::namedWindow(name, cv::WINDOW_AUTOSIZE);
    Windows().anyOpen = true;
    cv::moveWindow(name, at.x, at.y);
    cv::imshow(name, image);
    return true;
  } catch (const cv::Exception&) {
    return false;
  }
}

}  // namespace

WindowPosition WindowCascade::Next() {
  const WindowPosition current{x_, y_};
  y_ += kRowStep;
  if (y_ > kColumnBottom) {
    x_ += columnStep_;
    y_ = 0;
  }
  return current;
}

void ShowSourceImages(const RunState& run) {
  WindowCascade cascade(0, kSourceColumnStep);
  for (size_t i = 0; i < run.sourceImages.size(); ++i) {
    const cv::Mat& image = run.sourceImages[i];
    const std::string number = std::to_string(int64_t{run.startIndex} + int64_t(i));
    const WindowPosition at = cascade.Next();
    const std::string imageWindow = number + " Image (original)";
    if (OpenWindow(imageWindow, at, image)) {
      try {
        cv::resizeWindow(imageWindow, image.cols / 2, image.rows);
      } catch (const cv::Exception&) {
      }
    }
    if (!run.sourceMasks.empty()) {
      OpenWindow(number + " Mask (original)", {at.x + kMaskOffsetX, at.y}, run.sourceMasks[i]);
    }
  }
}

bool ShowArchiveImages(const std::string& fileName) {
  std::optional<std::vector<cv::Mat>> images;
  uint32_t startIndex = 0;
  {
    ZefImgReader reader;
    images = reader.Read(fileName);
    if (!images) {
      PrintLine("error while reading: " + reader.GetError());
      return false;
    }
    startIndex = reader.GetStartIndex();
  }
  PrintLine("read Bitmap(s) from " + fileName);
  WindowCascade cascade(kArchiveLeft, kArchiveColumnStep);
  for (size_t i = 0; i < images->size(); ++i) {
    // The window keeps its own copy, so each picture is freed once shown.
    cv::Mat image = std::move((*images)[i]);
    OpenWindow(std::to_string(uint64_t{startIndex} + i) + " zefImage (compressed)", cascade.Next(),
               image);
  }
  return true;
}

void PumpWindowEvents() {
  if (!Windows().anyOpen) return;
  try {
    cv::waitKey(1);
  } catch (const cv::Exception&) {
  }
}

}  // namespace zef::frontend

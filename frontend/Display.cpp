#include "frontend/Display.h"

#include <opencv2/highgui.hpp>

#include <cstdlib>
#include <optional>
#include <vector>

#include "archive/ZefImgReader.h"
#include "frontend/Console.h"
#include "frontend/DisplayServer.h"

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

// The window toolkit aborts the process when it cannot reach a display, so
// it is asked only once a display has answered; otherwise the run goes on
// without windows.
bool WindowSystemAvailable() {
  WindowSystem& windows = Windows();
  if (!windows.checked) {
    windows.checked = true;
    windows.available = DisplayServerReachable();
    if (!windows.available) PrintLine("no window system available, images are not shown");
  }
  return windows.available;
}

// Plain windows: the toolkit's expanded toolbar would make every window far
// wider than the small images it shows.
constexpr int kImageSizedWindow = cv::WINDOW_AUTOSIZE | cv::WINDOW_GUI_NORMAL;
// The toolkit ignores a resize of a window that follows its image's size,
// so a window of another size scales the image into itself instead.
constexpr int kFreelySizedWindow = cv::WINDOW_NORMAL | cv::WINDOW_GUI_NORMAL | cv::WINDOW_KEEPRATIO;

// Opens the window at its place and shows a copy of the image in it, at the
// image's size or at the given one. A window that the toolkit refuses is
// left out; the run goes on.
void OpenWindow(const std::string& name, WindowPosition at, const cv::Mat& image,
                std::optional<cv::Size> size = std::nullopt) {
  if (!WindowSystemAvailable()) return;
  try {
    cv::namedWindow(name, size ? kFreelySizedWindow : kImageSizedWindow);
    Windows().anyOpen = true;
    cv::moveWindow(name, at.x, at.y);
    cv::imshow(name, image);
    if (size) cv::resizeWindow(name, *size);
  } catch (const cv::Exception&) {
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

WindowCascade SourceImageCascade() { return WindowCascade(0, kSourceColumnStep); }

WindowCascade ArchiveImageCascade() { return WindowCascade(kArchiveLeft, kArchiveColumnStep); }

void ShowSourceImages(const RunState& run) {
  WindowCascade cascade = SourceImageCascade();
  for (size_t i = 0; i < run.sourceImages.size(); ++i) {
    const cv::Mat& image = run.sourceImages[i];
    const std::string number = std::to_string(int64_t{run.startIndex} + int64_t(i));
    const WindowPosition at = cascade.Next();
    OpenWindow(number + " Image (original)", at, image, cv::Size(image.cols / 2, image.rows));
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
  WindowCascade cascade = ArchiveImageCascade();
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

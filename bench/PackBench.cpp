// zef pack on a folder of small RGBA icons (anti-aliased edges, gradients,
// many of them past a palette's 64 colours), against only loading the same
// files with the image library.
#include <benchmark/benchmark.h>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/Scratch.h"
#include "bench/Targets.h"
#include "zef/Pack.h"

namespace zefbench {

namespace {

constexpr int kIconCount = 2000;
constexpr int kSmallestSide = 16;
constexpr int kSideSteps = 33;  // sides 16 to 48
// Packing may take this many times as long as loading its files.
constexpr double kPackOverLoading = 2.0;

// A disc with a soft edge over transparency, filled with a gradient
// between two colours of the icon's own under a ripple, and a darker ring.
cv::Mat Icon(int n) {
  const int side = kSmallestSide + (n * 7) % kSideSteps;
  const double centre = (side - 1) / 2.0, radius = side * 0.45;
  const cv::Vec3d from((n * 37) % 256, (n * 91) % 256, (n * 53) % 256);
  const cv::Vec3d to((n * 17 + 120) % 256, (n * 29 + 60) % 256, (n * 71 + 200) % 256);
  cv::Mat icon(side, side, CV_8UC4);
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      const double distance = std::hypot(x - centre, y - centre);
      const double cover = std::clamp(radius - distance + 0.5, 0.0, 1.0);
      const double t = double(x + y) / (2.0 * side);
      const double shade = distance > radius - 2 ? 0.6 : 1.0;
      cv::Vec4b& pixel = icon.at<cv::Vec4b>(y, x);
      for (int c = 0; c < 3; ++c) {
        // A ripple per channel over the gradient, as shading and texture
        // give real icons their hundreds of colours.
        const double ripple = 40 * std::sin(0.7 * x + 1.3 * c + n) * std::cos(0.5 * y + c);
        pixel[c] = uint8_t(std::clamp((from[c] * (1 - t) + to[c] * t) * shade + ripple, 0.0, 255.0));
      }
      pixel[3] = uint8_t(std::lround(cover * 255));
    }
  }
  return icon;
}

struct IconFolder {
  std::string folder;
  std::vector<std::string> files;
};

const IconFolder& Icons() {
  static const IconFolder icons = [] {
    IconFolder made{ScratchPath("icons"), {}};
    std::filesystem::create_directories(made.folder);
    for (int n = 0; n < kIconCount; ++n) {
      const std::string file = made.folder + "/icon" + std::to_string(10000 + n) + ".png";
      cv::imwrite(file, Icon(n));
      made.files.push_back(file);
    }
    return made;
  }();
  return icons;
}

void Pack(benchmark::State& state) {
  const IconFolder& icons = Icons();
  zef::tool::PackOptions options;
  options.inputs = {icons.folder};
  options.outputFile = ScratchPath("icons.zef");
  options.jobs = int(state.range(0));
  int reduced = 0;
  for (auto _ : state) {
    std::string error;
    const auto result = zef::tool::Pack(options, &error);
    if (!result) {
      state.SkipWithError(error.c_str());
      return;
    }
    reduced = int(std::count_if(result->images.begin(), result->images.end(),
                                [](const zef::tool::PackedImage& image) { return image.reduced; }));
  }
  state.counters["files"] = double(icons.files.size());
  state.counters["reduced"] = reduced;
}

void LoadOnly(benchmark::State& state) {
  const IconFolder& icons = Icons();
  for (auto _ : state) {
    for (const std::string& file : icons.files) {
      cv::Mat picture = cv::imread(file, cv::IMREAD_UNCHANGED);
      benchmark::DoNotOptimize(picture.data);
    }
  }
  state.counters["files"] = double(icons.files.size());
}

void Register() {
  benchmark::RegisterBenchmark("pack/zef/jobs", Pack)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("pack/imread", LoadOnly)->Unit(benchmark::kMillisecond);
  AddTarget({"zef pack of 2000 icons, one job, vs imread of their files", "pack/zef/jobs/1",
             "pack/imread", kPackOverLoading});
}

const bool kRegistered = (Register(), true);

}  // namespace
}  // namespace zefbench

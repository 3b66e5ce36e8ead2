// zef pack on folders of small RGBA icons (anti-aliased edges, gradients),
// against only loading the same files with the image library. Two folders:
// a theme's mix, where most icons fit a palette of 64 colours and about one
// in seven (15%) has to be reduced, as in real icon themes; and a folder
// where every icon has to be reduced, the quantizer's worst case.
#include <benchmark/benchmark.h>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <utility>
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
// Version 4 searches a palette per icon for its quality: this many times.
constexpr double kPackVersion4OverLoading = 3.0;
// The theme: 3 of every 20 icons need reducing.
constexpr int kThemeCycle = 20;
constexpr int kThemeReducedPerCycle = 3;
constexpr int kThemeSet = 0, kReducedSet = 1;

// A disc with a soft edge over transparency, filled with a gradient
// between two colours of the icon's own, and a darker ring. Rippled, its
// shading and texture give it hundreds of colours, as real icons that need
// reducing have; flat, it keeps to a few dozen.
cv::Mat Icon(int n, bool rippled) {
  const int side = kSmallestSide + (n * 7) % kSideSteps;
  const double centre = (side - 1) / 2.0, radius = side * 0.45;
  const cv::Vec3d from((n * 37) % 256, (n * 91) % 256, (n * 53) % 256);
  cv::Vec3d to((n * 17 + 120) % 256, (n * 29 + 60) % 256, (n * 71 + 200) % 256);
  // A flat icon's gradient spans a few levels per channel.
  if (!rippled) to = from + (to - from) * 0.2;
  cv::Mat icon(side, side, CV_8UC4);
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      const double distance = std::hypot(x - centre, y - centre);
      const double cover = std::clamp(radius - distance + 0.5, 0.0, 1.0);
      const double t = double(x + y) / (2.0 * side);
      const double shade = distance > radius - 2 ? 0.6 : 1.0;
      cv::Vec4b& pixel = icon.at<cv::Vec4b>(y, x);
      for (int c = 0; c < 3; ++c) {
        const double ripple = rippled ? 40 * std::sin(0.7 * x + 1.3 * c + n) * std::cos(0.5 * y + c) : 0.0;
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

IconFolder MakeFolder(const std::string& name, const std::function<bool(int)>& rippled) {
  IconFolder made{ScratchPath(name), {}};
  std::filesystem::create_directories(made.folder);
  for (int n = 0; n < kIconCount; ++n) {
    const std::string file = made.folder + "/icon" + std::to_string(10000 + n) + ".png";
    cv::imwrite(file, Icon(n, rippled(n)));
    made.files.push_back(file);
  }
  return made;
}

const IconFolder& Folder(int set) {
  static const IconFolder theme =
      MakeFolder("theme", [](int n) { return n % kThemeCycle < kThemeReducedPerCycle; });
  static const IconFolder reduced = MakeFolder("icons", [](int) { return true; });
  return set == kThemeSet ? theme : reduced;
}

// The argument: jobs (0: one per core).
void Pack(benchmark::State& state, int set, zef::tool::ArchiveFormat format) {
  const IconFolder& icons = Folder(set);
  zef::tool::PackOptions options;
  options.format = format;
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

void LoadOnly(benchmark::State& state, int set) {
  const IconFolder& icons = Folder(set);
  for (auto _ : state) {
    for (const std::string& file : icons.files) {
      cv::Mat picture = cv::imread(file, cv::IMREAD_UNCHANGED);
      benchmark::DoNotOptimize(picture.data);
    }
  }
  state.counters["files"] = double(icons.files.size());
}

void Register() {
  // CPU time of the whole process, so that with all jobs the threads' work
  // counts too.
  for (const auto& [name, set] : {std::pair{"theme", kThemeSet}, std::pair{"reduced", kReducedSet}}) {
    benchmark::RegisterBenchmark((std::string("pack/") + name + "/zef").c_str(), Pack, set,
                                 zef::tool::ArchiveFormat::kVersion3)
        ->ArgName("jobs")
        ->Arg(1)
        ->Arg(0)
        ->MeasureProcessCPUTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("pack/") + name + "/zef-v4").c_str(), Pack, set,
                                 zef::tool::ArchiveFormat::kVersion4)
        ->ArgName("jobs")
        ->Arg(1)
        ->MeasureProcessCPUTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("pack/") + name + "/imread").c_str(), LoadOnly, set)
        ->Unit(benchmark::kMillisecond);
  }
  AddTarget({"zef pack of 2000 theme icons, one job, vs imread", "pack/theme/zef/jobs:1/process_time",
             "pack/theme/imread", kPackOverLoading});
  AddTarget({"zef pack --format v4 of 2000 theme icons, one job, vs imread",
             "pack/theme/zef-v4/jobs:1/process_time", "pack/theme/imread", kPackVersion4OverLoading});
  AddTarget({"zef pack --format v4 of 2000 icons all reduced, one job, vs imread",
             "pack/reduced/zef-v4/jobs:1/process_time", "pack/reduced/imread", kPackVersion4OverLoading, 1.0, 1.0,
             [](std::string* note) {
               *note = "every icon needs 255 entries: the worst case, not a theme";
               return false;
             }});
  AddTarget({"zef pack of 2000 theme icons, all jobs, vs imread", "pack/theme/zef/jobs:0/process_time",
             "pack/theme/imread", kPackOverLoading, 1.0, 1.0, [](std::string* note) {
               *note = "CPU time of all threads";
               return false;
             }});
  AddTarget({"zef pack of 2000 icons all reduced, 1 job, vs imread", "pack/reduced/zef/jobs:1/process_time",
             "pack/reduced/imread", kPackOverLoading, 1.0, 1.0, [](std::string* note) {
               *note = "every icon reduced: the worst case, not a theme";
               return false;
             }});
}

const bool kRegistered = (Register(), true);

}  // namespace
}  // namespace zefbench

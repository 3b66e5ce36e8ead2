// The console tool's own work on a folder of sprites (script, loading with
// the colour check, writing, size report), against only loading the same
// files with the imaging library.
#include <benchmark/benchmark.h>
#include <opencv2/imgcodecs.hpp>

#include <filesystem>

#include "bench/Cases.h"
#include "bench/Scratch.h"
#include "bench/SilencedOutput.h"
#include "bench/SpriteSet.h"
#include "bench/Targets.h"
#include "bench/Threads.h"
#include "frontend/LoadImages.h"
#include "frontend/RunState.h"
#include "frontend/Script.h"
#include "frontend/WriteArchive.h"

namespace zefbench {

namespace {

// The tool may add this much to the time that loading its files takes.
constexpr double kConversionOverLoading = 1.25;

const SpriteSet& Sprites() {
  static const SpriteSet set = [] {
    const std::string folder = ScratchPath("sprites");
    std::filesystem::create_directories(folder);
    return MakeSpriteSet(folder);
  }();
  return set;
}

void Convert(benchmark::State& state) {
  const SpriteSet& set = Sprites();
  bool converted = true;
  {
    // The tool's work on the benchmark's own thread, whose CPU time is
    // measured, as it has always been compared.
    OneThread oneThread;
    SilencedOutput silenced;
    for (auto _ : state) {
      zef::frontend::RunState run;
      converted = zef::frontend::ParseScript(run, set.script) && zef::frontend::LoadImages(run) &&
                  zef::frontend::WriteArchive(run);
      if (!converted) break;
    }
  }
  if (!converted) state.SkipWithError("the conversion failed");
  state.counters["files"] = double(set.files.size());
}

void LoadOnly(benchmark::State& state) {
  const SpriteSet& set = Sprites();
  for (auto _ : state) {
    for (const std::string& file : set.files) {
      cv::Mat picture = cv::imread(file, cv::IMREAD_COLOR);
      benchmark::DoNotOptimize(picture.data);
    }
  }
  state.counters["files"] = double(set.files.size());
}

void Register() {
  benchmark::RegisterBenchmark("convert/tool", Convert)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("convert/imread", LoadOnly)->Unit(benchmark::kMillisecond);
  AddTarget({"convert 300 sprites vs imread of their files", "convert/tool", "convert/imread",
             kConversionOverLoading});
}

const bool kRegistered = (Register(), true);

}  // namespace
}  // namespace zefbench

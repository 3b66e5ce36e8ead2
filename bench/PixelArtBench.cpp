// The console tool on a few thousand small, detailed pixel-art sprites with
// masks, where the per-file work of loading dominates: once held to one
// core, against only loading the same files on that core, and once with
// the tool's threads on all cores, against loading them on one thread.
#include <benchmark/benchmark.h>
#include <opencv2/imgcodecs.hpp>

#include <filesystem>

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

// On one core the tool may add this much to the time that loading takes.
constexpr double kOneCoreOverLoading = 1.15;
// With its threads the whole conversion must beat loading on one thread.
constexpr double kAllCoresOverLoading = 0.85;

const SpriteSet& PixelArt() {
  static const SpriteSet set = [] {
    const std::string folder = ScratchPath("pixelart");
    std::filesystem::create_directories(folder);
    return MakePixelArtSet(folder);
  }();
  return set;
}

void Counters(benchmark::State& state) {
  state.counters["files"] = double(PixelArt().files.size());
  state.counters["mean_run"] = PixelArt().meanRun;
}

// The tool's own steps, its archive sent to /dev/null.
void Convert(benchmark::State& state) {
  const SpriteSet& set = PixelArt();
  bool converted = true;
  {
    SilencedOutput silenced;
    for (auto _ : state) {
      zef::frontend::RunState run;
      converted = zef::frontend::ParseScript(run, set.script);
      run.outputFileName = "/dev/null";
      converted = converted && zef::frontend::LoadImages(run) && zef::frontend::WriteArchive(run);
      if (!converted) break;
    }
  }
  if (!converted) state.SkipWithError("the conversion failed");
  Counters(state);
}

void LoadOnly(benchmark::State& state) {
  for (auto _ : state) {
    for (const std::string& file : PixelArt().files) {
      cv::Mat picture = cv::imread(file, cv::IMREAD_COLOR);
      benchmark::DoNotOptimize(picture.data);
    }
  }
  Counters(state);
}

template <void (*Case)(benchmark::State&)>
void OnOneCore(benchmark::State& state) {
  HeldToOneCore held;
  if (!held.Pinned()) {
    state.SkipWithError("could not hold the thread to one core");
    return;
  }
  Case(state);
}

void Register() {
  benchmark::RegisterBenchmark("pixelart/tool/one-core", OnOneCore<Convert>)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("pixelart/imread/one-core", OnOneCore<LoadOnly>)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("pixelart/tool/all-cores", Convert)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
  benchmark::RegisterBenchmark("pixelart/imread", LoadOnly)->Unit(benchmark::kMillisecond)->UseRealTime();
  const std::string count = std::to_string(kPixelArtCount);
  AddTarget({"convert " + count + " pixel-art sprites vs imread, one core", "pixelart/tool/one-core",
             "pixelart/imread/one-core", kOneCoreOverLoading});
  Target allCores{"convert " + count + " pixel-art sprites, all cores, vs imread",
                  "pixelart/tool/all-cores/real_time", "pixelart/imread/real_time",
                  kAllCoresOverLoading};
  allCores.wallTime = true;
  AddTarget(allCores);
}

const bool kRegistered = (Register(), true);

}  // namespace
}  // namespace zefbench

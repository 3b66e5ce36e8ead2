// Encoding archives from pictures into memory, against PNG encoding of the
// same pictures into memory; one write to a file on disk; and encoding
// many small pictures into one archive.
#include <benchmark/benchmark.h>
#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "bench/Cases.h"
#include "bench/Targets.h"
#include "writer/ZefImgWriter.h"

namespace zefbench {

namespace {

// Writing must be this much faster than PNG encoding.
constexpr double kWriteSpeedup = 20.0;
// The colour look-up must not grow with the palette.
constexpr double kPaletteGrowth = 1.5;
// Per-image time may grow at most this much from one scale step to the next.
constexpr double kScaleGrowth = 1.5;

bool Succeeded(const std::string& error, benchmark::State& state) {
  if (error.empty()) return true;
  state.SkipWithError(error.c_str());
  return false;
}

// Archives are encoded into memory, as the PNG baselines are.
bool EncodeArchive(const std::vector<cv::Mat>& images, const std::vector<cv::Mat>& masks,
                   std::vector<uint8_t>* bytes, benchmark::State& state) {
  return Succeeded(EncodeCaseArchive(images, masks, bytes), state);
}

void WriteZef(benchmark::State& state, int colours, bool masks) {
  const Sprite& sprite = CaseSprite(colours);
  const std::vector<cv::Mat> images{sprite.image};
  const std::vector<cv::Mat> maskList = masks ? std::vector<cv::Mat>{sprite.mask} : std::vector<cv::Mat>{};
  std::vector<uint8_t> archive;
  for (auto _ : state) {
    if (!EncodeArchive(images, maskList, &archive, state)) break;
    benchmark::DoNotOptimize(archive.data());
  }
  state.counters["bytes"] = double(archive.size());
  state.counters["mean_run"] = MeanRun(sprite.image);
}

// The same write to a file on disk rather than in memory: what the file
// system adds (ext4 here starts writing back a replaced file at close).
void WriteZefToDisk(benchmark::State& state, int colours) {
  const char* folder = std::getenv("ZEF_BENCH_DISK_DIR");
  const std::string path = std::string(folder != nullptr ? folder : ".") + "/zef_bench_disk.zef";
  const std::vector<cv::Mat> images{CaseSprite(colours).image};
  for (auto _ : state) {
    if (!Succeeded(WriteCaseArchive(path, images, {}), state)) break;
  }
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
}

void EncodePng(benchmark::State& state, int colours, bool masks) {
  const Sprite& sprite = CaseSprite(colours);
  std::vector<uchar> image, mask;
  for (auto _ : state) {
    cv::imencode(".png", sprite.image, image);
    if (masks) cv::imencode(".png", sprite.mask, mask);
    benchmark::DoNotOptimize(image.data());
    benchmark::DoNotOptimize(mask.data());
  }
  state.counters["bytes"] = double(image.size() + mask.size());
}

void WriteMany(benchmark::State& state, int count) {
  const std::vector<cv::Mat> images = ScaleImages(count);
  const std::vector<cv::Mat> masks = ScaleMasks(count);
  std::vector<uint8_t> archive;
  for (auto _ : state) {
    if (!EncodeArchive(images, masks, &archive, state)) break;
    benchmark::DoNotOptimize(archive.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * count);
}

void Register() {
  for (bool masks : {false, true}) {
    for (int colours : kCaseColours) {
      if (masks && colours > kMostColoursWithMasks) continue;
      const std::string name = CaseName(colours, masks);
      benchmark::RegisterBenchmark(("write/zef/" + name).c_str(), WriteZef, colours, masks)
          ->Unit(benchmark::kMillisecond);
      benchmark::RegisterBenchmark(("write/png/" + name).c_str(), EncodePng, colours, masks)
          ->Unit(benchmark::kMillisecond);
      AddTarget({"write " + name + " vs PNG encode", "write/zef/" + name, "write/png/" + name,
                 1.0 / kWriteSpeedup});
    }
  }
  AddTarget({"write 256 colours vs 16 colours", "write/zef/256", "write/zef/16", kPaletteGrowth});
  benchmark::RegisterBenchmark("write/zef/16/disk", WriteZefToDisk, kCaseColours[0])
      ->Unit(benchmark::kMillisecond);
  AddTarget({"write 16 to a file on disk vs PNG encode", "write/zef/16/disk", "write/png/16",
             1.0 / kWriteSpeedup, 1.0, 1.0, [](std::string* note) {
               *note = "the file system's work included";
               return false;
             }});
  int previous = 0;
  for (int count : kScaleCounts) {
    const std::string name = "write/scale/" + std::to_string(count);
    benchmark::RegisterBenchmark(name.c_str(), WriteMany, count)->Unit(benchmark::kMicrosecond);
    if (previous != 0) {
      AddTarget({"write per image, " + std::to_string(count) + " vs " + std::to_string(previous) +
                     " images",
                 name, "write/scale/" + std::to_string(previous), kScaleGrowth, double(count),
                 double(previous)});
    }
    previous = count;
  }
}

const bool kRegistered = (Register(), true);

}  // namespace
}  // namespace zefbench

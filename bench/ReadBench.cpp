// Reading archives in memory back into pictures, against PNG decoding of
// the same pictures and against only copying the decoded pixels; and
// reading archives of many small pictures.
#include <benchmark/benchmark.h>
#include <opencv2/imgcodecs.hpp>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "archive/ZefImgReader.h"
#include "bench/Cases.h"
#include "bench/Targets.h"
#include "bench/Tools.h"

namespace zefbench {

namespace {

// Reading must be this much faster than PNG decoding...
constexpr double kReadSpeedup = 5.0;
// ...and, on pictures of long runs, this close to copying its output.
constexpr double kReadOverCopy = 4.0;
constexpr double kLongRuns = 32.0;
constexpr double kScaleGrowth = 1.5;

bool ReadArchive(const std::vector<uint8_t>& archive, benchmark::State& state) {
  zef::ZefImgReader reader;
  const std::optional<std::vector<cv::Mat>> images = reader.ReadMemory(archive.data(), archive.size());
  if (images) {
    benchmark::DoNotOptimize(images->data());
    return true;
  }
  state.SkipWithError(reader.GetError().c_str());
  return false;
}

void ReadZef(benchmark::State& state, int colours, bool masks) {
  const std::vector<uint8_t>& archive = CaseArchive(colours, masks);
  for (auto _ : state) {
    if (!ReadArchive(archive, state)) break;
  }
}

void DecodePng(benchmark::State& state, int colours, bool masks) {
  const std::vector<std::vector<uint8_t>>& pngs = CasePngs(colours, masks);
  for (auto _ : state) {
    cv::Mat image = cv::imdecode(pngs[0], cv::IMREAD_COLOR);
    benchmark::DoNotOptimize(image.data);
    if (masks) {
      cv::Mat mask = cv::imdecode(pngs[1], cv::IMREAD_GRAYSCALE);
      benchmark::DoNotOptimize(mask.data);
    }
  }
}

// The decoded picture copied into memory that is already there: the least
// any reader that hands out pixels must do.
void CopyPixels(benchmark::State& state, int colours) {
  const cv::Mat& image = CaseSprite(colours).image;
  cv::Mat copy(image.size(), image.type());
  const size_t bytes = image.total() * image.elemSize();
  for (auto _ : state) {
    std::memcpy(copy.data, image.data, bytes);
    benchmark::ClobberMemory();
  }
}

void ReadMany(benchmark::State& state, int count) {
  const std::vector<uint8_t>& archive = ScaleArchive(count);
  for (auto _ : state) {
    if (!ReadArchive(archive, state)) break;
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * count);
}

// --tool-read FILE: reads the archive once; bench/run measures the peak
// memory of this process.
int ReadTool(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: zef_bench --tool-read ARCHIVE\n");
    return 1;
  }
  zef::ZefImgReader reader;
  const std::optional<std::vector<cv::Mat>> images = reader.Read(argv[2]);
  if (!images) {
    std::fprintf(stderr, "zef_bench: %s\n", reader.GetError().c_str());
    return 1;
  }
  uint64_t decoded = 0;
  for (const cv::Mat& image : *images) decoded += image.total() * image.elemSize();
  std::printf("images %zu\ndecoded_bytes %" PRIu64 "\nfile_bytes %" PRIu64 "\n", images->size(),
              decoded, uint64_t(std::filesystem::file_size(argv[2])));
  return 0;
}

void Register() {
  for (bool masks : {false, true}) {
    for (int colours : kCaseColours) {
      if (masks && colours > kMostColoursWithMasks) continue;
      const std::string name = CaseName(colours, masks);
      benchmark::RegisterBenchmark(("read/zef/" + name).c_str(), ReadZef, colours, masks)
          ->Unit(benchmark::kMillisecond);
      benchmark::RegisterBenchmark(("read/png/" + name).c_str(), DecodePng, colours, masks)
          ->Unit(benchmark::kMillisecond);
      AddTarget({"read " + name + " vs PNG decode", "read/zef/" + name, "read/png/" + name,
                 1.0 / kReadSpeedup});
      AddTarget({"read " + name + " vs memcpy of its pixels", "read/zef/" + name,
                 "read/memcpy/" + std::to_string(colours), kReadOverCopy, 1.0, 1.0,
                 [colours](std::string* note) {
                   const double meanRun = MeanRun(CaseSprite(colours).image);
                   char text[64];
                   std::snprintf(text, sizeof text, "mean run %.1f px", meanRun);
                   *note = text;
                   return meanRun >= kLongRuns;
                 }});
    }
  }
  for (int colours : kCaseColours) {
    benchmark::RegisterBenchmark(("read/memcpy/" + std::to_string(colours)).c_str(), CopyPixels, colours)
        ->Unit(benchmark::kMillisecond);
  }
  int previous = 0;
  for (int count : kScaleCounts) {
    const std::string name = "read/scale/" + std::to_string(count);
    benchmark::RegisterBenchmark(name.c_str(), ReadMany, count)->Unit(benchmark::kMicrosecond);
    if (previous != 0) {
      AddTarget({"read per image, " + std::to_string(count) + " vs " + std::to_string(previous) +
                     " images",
                 name, "read/scale/" + std::to_string(previous), kScaleGrowth, double(count),
                 double(previous)});
    }
    previous = count;
  }
  AddTool("read", ReadTool);
}

const bool kRegistered = (Register(), true);

}  // namespace
}  // namespace zefbench

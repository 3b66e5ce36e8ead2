// Colour reduction of one 64 x 64 icon that needs it, against decoding the
// same icon from its PNG file: packing a folder of icons should cost little
// more than loading them, so reducing one must not cost more than loading it.
#include <benchmark/benchmark.h>
#include <opencv2/imgcodecs.hpp>

#include "bench/IconSet.h"
#include "bench/SpriteImages.h"
#include "bench/Targets.h"
#include "quantize/Quantize.h"

namespace zefbench {

namespace {

constexpr int kIconSide = 64;
constexpr int kColoursWithAlpha = 64;
constexpr double kReduceOverDecode = 1.0;

// The first icon of the set, drawn at 64 x 64, whose colours do not fit.
const Icon& CaseIcon() {
  static const Icon icon = [] {
    for (uint32_t number = 0;; ++number) {
      Icon candidate = MakeIcon(number, kIconSide);
      if (CountColours(candidate.bgr) > 2 * kColoursWithAlpha) return candidate;
    }
  }();
  return icon;
}

void Reduce(benchmark::State& state, int maxColors, int alphaValues, float dither) {
  const Icon& icon = CaseIcon();
  zef::quantize::ReduceOptions options;
  options.maxColors = maxColors;
  options.alphaValues = alphaValues;
  options.ditherStrength = dither;
  const cv::Mat alpha = alphaValues == 0 ? cv::Mat() : icon.alpha;
  for (auto _ : state) {
    const auto result = zef::quantize::Reduce(icon.bgr, alpha, options);
    if (!result) {
      state.SkipWithError("no reduction");
      break;
    }
    benchmark::DoNotOptimize(result->bgr.data);
  }
  state.counters["colours"] = double(CountColours(icon.bgr));
}

void DecodeIconPng(benchmark::State& state) {
  std::vector<uint8_t> png;
  cv::imencode(".png", ToBgra(CaseIcon()), png);
  for (auto _ : state) {
    cv::Mat image = cv::imdecode(png, cv::IMREAD_UNCHANGED);
    benchmark::DoNotOptimize(image.data);
  }
}

void Register() {
  benchmark::RegisterBenchmark("quantize/reduce/64x64/64+alpha", Reduce, kColoursWithAlpha, 4, 0.0f)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("quantize/reduce/64x64/64+alpha/fs", Reduce, kColoursWithAlpha, 4, 1.0f)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("quantize/reduce/64x64/16", Reduce, 16, 0, 0.0f)->Unit(benchmark::kMicrosecond);
  // The same icon under a cap it fits: only the level mapping.
  benchmark::RegisterBenchmark("quantize/levels/64x64", Reduce, 256, 4, 0.0f)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("quantize/png/64x64", DecodeIconPng)->Unit(benchmark::kMicrosecond);
  AddTarget({"reduce a 64x64 icon vs decoding its PNG", "quantize/reduce/64x64/64+alpha",
             "quantize/png/64x64", kReduceOverDecode});
}

const bool kRegistered = (Register(), true);

}  // namespace
}  // namespace zefbench

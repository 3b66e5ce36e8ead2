// The firmware decoder on the desktop: an archive in memory decoded to
// BGR888 lines, against the desktop reader's ReadMemory of the same bytes.
#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>

#include "bench/Cases.h"
#include "bench/Targets.h"
#include "zefdec.h"

namespace zefbench {

namespace {

// The device decoder may take this much longer than the desktop reader.
constexpr double kDeviceOverReader = 1.5;

// Every image of the archive into its own picture, as ReadMemory makes them.
bool DecodeAll(const std::vector<uint8_t>& bytes, std::vector<cv::Mat>& images) {
  zefdec_archive archive;
  if (zefdec_open(&archive, bytes.data(), bytes.size()) != ZEFDEC_OK) return false;
  images.clear();
  for (uint32_t n = 0; n < zefdec_count(&archive); ++n) {
    zefdec_image_info info;
    zefdec_image image;
    if (zefdec_info(&archive, n, &info) != ZEFDEC_OK ||
        zefdec_begin(&image, &archive, n, ZEFDEC_BGR888) != ZEFDEC_OK) {
      return false;
    }
    cv::Mat picture(int(info.height), int(info.width), CV_8UC3);
    for (int y = 0; y < picture.rows; ++y) {
      if (zefdec_line(&image, picture.ptr(y), nullptr, info.width) != ZEFDEC_OK) return false;
    }
    images.push_back(std::move(picture));
  }
  return true;
}

void DecodeOnDevice(benchmark::State& state, int colours, bool masks) {
  const std::vector<uint8_t>& bytes = CaseArchive(colours, masks);
  std::vector<cv::Mat> images;
  for (auto _ : state) {
    if (!DecodeAll(bytes, images)) {
      state.SkipWithError("the device decoder refused the archive");
      break;
    }
    benchmark::DoNotOptimize(images.data());
    images.clear();
  }
}

void Register() {
  for (bool masks : {false, true}) {
    for (int colours : kCaseColours) {
      if (masks && colours > kMostColoursWithMasks) continue;
      const std::string name = CaseName(colours, masks);
      benchmark::RegisterBenchmark(("device/bgr888/" + name).c_str(), DecodeOnDevice, colours, masks)
          ->Unit(benchmark::kMillisecond);
      AddTarget({"device BGR888 " + name + " vs ReadMemory", "device/bgr888/" + name,
                 "read/zef/" + name, kDeviceOverReader});
    }
  }
}

const bool kRegistered = (Register(), true);

}  // namespace
}  // namespace zefbench

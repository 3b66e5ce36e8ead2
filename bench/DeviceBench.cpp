// The firmware decoder on the desktop: an archive in memory decoded to
// BGR888 lines, against the desktop reader's ReadMemory of the same bytes;
// and an opaque image drawn onto a framebuffer, against lines copied into it.
#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>

#include <cstring>

#include "bench/Cases.h"
#include "bench/Targets.h"
#include "zefdec.h"

namespace zefbench {

namespace {

// The device decoder may take this much longer than the desktop reader.
constexpr double kDeviceOverReader = 1.5;
// Drawing an opaque image must not cost more than decoding its lines and
// copying them into the framebuffer.
constexpr double kDrawOverLines = 1.0;

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

// An opaque image onto an RGB565 framebuffer of its size: by zefdec_draw,
// and by lines into a buffer copied into the framebuffer, the way firmware
// without zefdec_draw does it.
struct Framebuffer {
  std::vector<uint16_t> pixels;
  zefdec_canvas canvas;
  explicit Framebuffer(const zefdec_image_info& info)
      : pixels(size_t(info.width) * info.height),
        canvas{pixels.data(), info.width, info.height, uint32_t(info.width * sizeof(uint16_t)),
               ZEFDEC_CANVAS_RGB565} {}
};

bool OpenFirst(benchmark::State& state, const std::vector<uint8_t>& bytes, zefdec_archive& archive,
               zefdec_image_info& info) {
  if (zefdec_open(&archive, bytes.data(), bytes.size()) != ZEFDEC_OK ||
      zefdec_info(&archive, 0, &info) != ZEFDEC_OK) {
    state.SkipWithError("the device decoder refused the archive");
    return false;
  }
  return true;
}

void DrawOnDevice(benchmark::State& state, int colours) {
  zefdec_archive archive;
  zefdec_image_info info;
  if (!OpenFirst(state, CaseArchive(colours, false), archive, info)) return;
  Framebuffer screen(info);
  for (auto _ : state) {
    if (zefdec_draw(&archive, 0, &screen.canvas, 0, 0) != ZEFDEC_OK) {
      state.SkipWithError("zefdec_draw failed");
      break;
    }
    benchmark::DoNotOptimize(screen.pixels.data());
    benchmark::ClobberMemory();
  }
}

void LinesCopiedOnDevice(benchmark::State& state, int colours) {
  zefdec_archive archive;
  zefdec_image_info info;
  if (!OpenFirst(state, CaseArchive(colours, false), archive, info)) return;
  Framebuffer screen(info);
  std::vector<uint16_t> line(info.width);
  for (auto _ : state) {
    zefdec_image image;
    bool ok = zefdec_begin(&image, &archive, 0, ZEFDEC_RGB565) == ZEFDEC_OK;
    for (uint32_t y = 0; ok && y < info.height; ++y) {
      ok = zefdec_line(&image, line.data(), nullptr, info.width) == ZEFDEC_OK;
      std::memcpy(screen.pixels.data() + size_t(y) * info.width, line.data(),
                  info.width * sizeof(uint16_t));
    }
    if (!ok) {
      state.SkipWithError("zefdec_line failed");
      break;
    }
    benchmark::DoNotOptimize(screen.pixels.data());
    benchmark::ClobberMemory();
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
  for (int colours : kCaseColours) {
    const std::string name = CaseName(colours, false);
    benchmark::RegisterBenchmark(("device/draw565/" + name).c_str(), DrawOnDevice, colours)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("device/lines565+memcpy/" + name).c_str(), LinesCopiedOnDevice,
                                 colours)
        ->Unit(benchmark::kMillisecond);
    AddTarget({"device draw RGB565 " + name + " vs lines + memcpy", "device/draw565/" + name,
               "device/lines565+memcpy/" + name, kDrawOverLines});
  }
}

const bool kRegistered = (Register(), true);

}  // namespace
}  // namespace zefbench

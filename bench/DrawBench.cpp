// Drawing a whole picture set onto an RGB565 framebuffer: zefdec_draw of
// the set's archive (version 4 at its default quality; version 3 beside it) against the peer route, LZ4 decompression of each
// picture's RGB565A8 data and the same blend into the same canvas. Every
// picture goes to the canvas's top-left corner; both sides draw the same
// pixels, so the ratio of their times is that of their pixel rates.
// Version 4 is drawn twice: by the decoder built for speed, and by the same
// decoder built with -Os (v4-Os), as the installed package builds it by default.
#include <benchmark/benchmark.h>
#include <lz4.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "bench/FidelitySets.h"
#include "bench/PackedSets.h"
#include "bench/PeerFormats.h"
#include "bench/Scratch.h"
#include "bench/DeviceSmall.h"
#include "bench/Targets.h"
#include "zefdec.h"

namespace zefbench {

namespace {

// Drawing version 4 must be at least as fast as decompressing and blending
// RGB565A8.
constexpr double kDrawOverPeer = 1.0;
constexpr double kDefaultQuality = 40.0;
// The canvas starts as a pattern of every RGB565 value, so that blends
// meet varied backgrounds.
constexpr uint32_t kCanvasPatternStep = 40503;

enum SetId { kIcons, kSprites };

struct DrawSet {
  PictureSet set;
  int side = 0;             // of the canvas: the largest picture's
  uint64_t pixels = 0;      // of all pictures
  std::vector<std::vector<uint8_t>> peerData;  // LZ4 of each RGB565A8 plane
  size_t largestPlane = 0;
  std::vector<uint8_t> version3;
  std::vector<uint8_t> version4;  // at the default quality
  std::string error;
};

DrawSet MakeDrawSet(SetId id) {
  DrawSet made;
  made.set = id == kIcons ? FidelityIcons() : FidelitySprites();
  for (const cv::Mat& picture : made.set.pictures) {
    made.side = std::max({made.side, picture.cols, picture.rows});
    made.pixels += picture.total();
    const std::vector<uint8_t> plane = Rgb565A8Plane(picture);
    made.largestPlane = std::max(made.largestPlane, plane.size());
    made.peerData.push_back(Lz4Compress(plane));
    if (made.peerData.back().empty()) made.error = "LZ4 refused a picture";
  }
  made.version3 = PackSet(made.set, ScratchPath("draw-" + made.set.name), {}, &made.error);
  if (made.error.empty()) made.version4 = Version4Archive(made.set, kDefaultQuality, &made.error);
  return made;
}

const DrawSet& Set(SetId id) {
  static std::map<SetId, DrawSet> sets;
  auto found = sets.find(id);
  if (found == sets.end()) found = sets.emplace(id, MakeDrawSet(id)).first;
  return found->second;
}

struct Canvas {
  std::vector<uint16_t> pixels;
  zefdec_canvas canvas;
  explicit Canvas(int side)
      : pixels(size_t(side) * size_t(side)),
        canvas{pixels.data(), uint32_t(side), uint32_t(side), uint32_t(side * sizeof(uint16_t)),
               ZEFDEC_CANVAS_RGB565} {
    for (size_t n = 0; n < pixels.size(); ++n) pixels[n] = uint16_t(n * kCanvasPatternStep);
  }
};

void Count(benchmark::State& state, const DrawSet& set) {
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(set.pixels));
  state.counters["pictures"] = double(set.set.pictures.size());
}

void DrawPeer(benchmark::State& state, SetId id) {
  const DrawSet& set = Set(id);
  if (!set.error.empty()) {
    state.SkipWithError(set.error.c_str());
    return;
  }
  Canvas screen(set.side);
  // 16-bit aligned, as firmware keeps its decompression buffer.
  std::vector<uint16_t> buffer((set.largestPlane + 1) / 2);
  char* const plane = reinterpret_cast<char*>(buffer.data());
  const int room = int(buffer.size() * sizeof(uint16_t));
  for (auto _ : state) {
    for (size_t n = 0; n < set.peerData.size(); ++n) {
      const cv::Mat& picture = set.set.pictures[n];
      const std::vector<uint8_t>& data = set.peerData[n];
      const int size = LZ4_decompress_safe(reinterpret_cast<const char*>(data.data()), plane, int(data.size()), room);
      if (size != int(picture.total() * 3)) {
        state.SkipWithError("LZ4 refused its own data");
        return;
      }
      BlendRgb565A8(reinterpret_cast<const uint8_t*>(plane), picture.cols, picture.rows, screen.pixels.data(),
                    size_t(set.side));
    }
    benchmark::DoNotOptimize(screen.pixels.data());
    benchmark::ClobberMemory();
  }
  Count(state, set);
}

// The calls of one build of the device decoder.
struct Decoder {
  int (*open)(zefdec_archive*, const void*, size_t);
  uint32_t (*count)(const zefdec_archive*);
  int (*draw)(const zefdec_archive*, uint32_t, const zefdec_canvas*, int32_t, int32_t);
};
constexpr Decoder kForSpeed{zefdec_open, zefdec_count, zefdec_draw};
constexpr Decoder kForSize{zefdec_small_open, zefdec_small_count, zefdec_small_draw};

void DrawArchive(benchmark::State& state, const DrawSet& set, const std::vector<uint8_t>& bytes,
                 const Decoder& decoder = kForSpeed) {
  if (!set.error.empty()) {
    state.SkipWithError(set.error.c_str());
    return;
  }
  zefdec_archive archive;
  if (decoder.open(&archive, bytes.data(), bytes.size()) != ZEFDEC_OK) {
    state.SkipWithError("the device decoder refused the archive");
    return;
  }
  Canvas screen(set.side);
  const uint32_t count = decoder.count(&archive);
  for (auto _ : state) {
    for (uint32_t n = 0; n < count; ++n) {
      if (decoder.draw(&archive, n, &screen.canvas, 0, 0) != ZEFDEC_OK) {
        state.SkipWithError("zefdec_draw failed");
        return;
      }
    }
    benchmark::DoNotOptimize(screen.pixels.data());
    benchmark::ClobberMemory();
  }
  Count(state, set);
}

void DrawVersion3(benchmark::State& state, SetId id) { DrawArchive(state, Set(id), Set(id).version3); }

// Until the device decoder reads version 4, this stops with its refusal
// and the target shows as not measured.
void DrawVersion4(benchmark::State& state, SetId id) { DrawArchive(state, Set(id), Set(id).version4); }

void DrawVersion4Small(benchmark::State& state, SetId id) {
  DrawArchive(state, Set(id), Set(id).version4, kForSize);
}

void Register() {
  for (const auto& [name, id] : {std::pair{"icons", kIcons}, std::pair{"sprites", kSprites}}) {
    const std::string base = std::string("draw565/") + name;
    benchmark::RegisterBenchmark((base + "/lz4+blend").c_str(), DrawPeer, id)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark((base + "/v3").c_str(), DrawVersion3, id)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark((base + "/v4").c_str(), DrawVersion4, id)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark((base + "/v4-Os").c_str(), DrawVersion4Small, id)->Unit(benchmark::kMicrosecond);
    AddTarget({std::string("draw RGB565 ") + name + ", version 4 vs RGB565A8 + LZ4", base + "/v4",
               base + "/lz4+blend", kDrawOverPeer});
    AddTarget({std::string("draw RGB565 ") + name + ", version 4 built with -Os vs RGB565A8 + LZ4", base + "/v4-Os",
               base + "/lz4+blend", kDrawOverPeer, 1.0, 1.0, [](std::string* note) {
                 *note = "the firmware default, for comparison";
                 return false;
               }});
    AddTarget({std::string("draw RGB565 ") + name + ", version 3 vs RGB565A8 + LZ4", base + "/v3",
               base + "/lz4+blend", kDrawOverPeer, 1.0, 1.0, [](std::string* note) {
                 *note = "version 3 for comparison";
                 return false;
               }});
  }
}

const bool kRegistered = (Register(), true);

}  // namespace
}  // namespace zefbench

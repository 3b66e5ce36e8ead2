// zef_quality: how well colour reduction keeps icons that need it. Makes a
// deterministic set of RGBA icons (written as PNG files, as users have
// them), takes those that have more than 64 colours after the 4-bit cut
// (the console tool refuses them with masks), and prints the mean PSNR of
// their visible pixels for each route to a 64-colour palette:
//   reduce      our quantizer, nearest levels, invisible pixels unified
//   reduce+fs   the same with full Floyd-Steinberg dithering
//   pngquant    pngquant to 64 colours, then the 4-bit cut (when installed)
//   nearest     nearest levels with no colour limit (reference)
//   cut         the 4-bit cut with no colour limit (reference)
//
// usage: zef_quality [--count N] [--icons DIR] [--pngquant PROGRAM] [--verbose]
#include <opencv2/imgcodecs.hpp>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench/IconSet.h"
#include "quantize/Quantize.h"

namespace {

namespace fs = std::filesystem;
using zef::quantize::Levels;
using zef::quantize::ReduceOptions;

constexpr int kColoursWithAlpha = 64;
constexpr int kAlphaValues = 4;
constexpr double kLeastPsnr = 32.0;
constexpr double kLeastGainOverPngquant = 3.0;

struct Settings {
  int count = 600;
  std::string iconDir;
  std::string pngquant = "/usr/bin/pngquant";
  bool verbose = false;
};

bool ParseArguments(int argc, char** argv, Settings& settings) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const bool hasValue = i + 1 < argc;
    if (argument == "--count" && hasValue) {
      settings.count = std::atoi(argv[++i]);
    } else if (argument == "--icons" && hasValue) {
      settings.iconDir = argv[++i];
    } else if (argument == "--pngquant" && hasValue) {
      settings.pngquant = argv[++i];
    } else if (argument == "--verbose") {
      settings.verbose = true;
    } else {
      return false;
    }
  }
  return settings.count > 0;
}

int CutColours(const cv::Mat& bgr) {
  std::vector<bool> seen(4096, false);
  int colours = 0;
  for (int y = 0; y < bgr.rows; ++y) {
    for (int x = 0; x < bgr.cols; ++x) {
      const cv::Vec3b p = bgr.at<cv::Vec3b>(y, x);
      const int bin = (p[0] >> 4) << 8 | (p[1] >> 4) << 4 | p[2] >> 4;
      if (!seen[size_t(bin)]) {
        seen[size_t(bin)] = true;
        ++colours;
      }
    }
  }
  return colours;
}

cv::Mat NearestLevels(const cv::Mat& bgr) {
  cv::Mat shown = bgr.clone();
  shown.forEach<cv::Vec3b>([](cv::Vec3b& p, const int*) {
    for (int c = 0; c < 3; ++c) p[c] = uint8_t(zef::quantize::ShownValue(zef::quantize::LevelOf(p[c], Levels::kNearest)));
  });
  return shown;
}

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// pngquant's 64 colours, as BGR; empty when it failed.
cv::Mat Pngquant(const std::string& program, const fs::path& input, const fs::path& output) {
  const std::string command = Quoted(program) + " --force --output " + Quoted(output.string()) + " " +
                              std::to_string(kColoursWithAlpha) + " -- " + Quoted(input.string());
  if (std::system(command.c_str()) != 0) return {};
  cv::Mat result = cv::imread(output.string(), cv::IMREAD_COLOR);
  return result;
}

struct Tally {
  double sum = 0, least = INFINITY;
  int count = 0;
  void Add(double psnr) {
    sum += psnr;
    least = std::min(least, psnr);
    ++count;
  }
  double Mean() const { return count > 0 ? sum / count : NAN; }
};

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  if (!ParseArguments(argc, argv, settings)) {
    std::fprintf(stderr, "usage: zef_quality [--count N] [--icons DIR] [--pngquant PROGRAM] [--verbose]\n");
    return 2;
  }
  fs::path dir = settings.iconDir;
  bool removeDir = false;
  if (dir.empty()) {
    std::string pattern = (fs::temp_directory_path() / "zef-quality.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("zef_quality: mkdtemp");
      return 1;
    }
    dir = pattern;
    removeDir = true;
  }
  std::error_code error;
  fs::create_directories(dir, error);
  const bool havePngquant = access(settings.pngquant.c_str(), X_OK) == 0;

  std::map<std::string, Tally> tallies;
  const char* const kRoutes[] = {"reduce", "reduce+fs", "pngquant", "nearest", "cut"};
  int needing = 0, failures = 0;
  for (int n = 0; n < settings.count; ++n) {
    const zefbench::Icon made = zefbench::MakeIcon(uint32_t(n));
    char name[32];
    std::snprintf(name, sizeof name, "icon-%04d.png", n);
    const fs::path file = dir / name;
    if (!cv::imwrite(file.string(), zefbench::ToBgra(made))) {
      std::fprintf(stderr, "zef_quality: cannot write %s\n", file.c_str());
      return 1;
    }
    // What a user has: the PNG file, read back.
    const cv::Mat bgra = cv::imread(file.string(), cv::IMREAD_UNCHANGED);
    std::vector<cv::Mat> channels;
    cv::split(bgra, channels);
    const cv::Mat alpha = channels[3];
    channels.pop_back();
    cv::Mat bgr;
    cv::merge(channels, bgr);
    if (CutColours(bgr) <= kColoursWithAlpha) continue;
    ++needing;

    std::map<std::string, double> psnr;
    ReduceOptions options;
    options.maxColors = kColoursWithAlpha;
    options.alphaValues = kAlphaValues;
    const auto reduced = zef::quantize::Reduce(bgr, alpha, options);
    options.ditherStrength = 1.0f;
    const auto dithered = zef::quantize::Reduce(bgr, alpha, options);
    if (!reduced || !dithered) {
      std::fprintf(stderr, "zef_quality: no reduction for %s\n", name);
      ++failures;
      continue;
    }
    psnr["reduce"] = zef::quantize::VisiblePsnr(bgr, alpha, kAlphaValues, reduced->bgr);
    psnr["reduce+fs"] = zef::quantize::VisiblePsnr(bgr, alpha, kAlphaValues, dithered->bgr);
    psnr["nearest"] = zef::quantize::VisiblePsnr(bgr, alpha, kAlphaValues, NearestLevels(bgr));
    psnr["cut"] = zef::quantize::VisiblePsnr(bgr, alpha, kAlphaValues, bgr);
    if (havePngquant) {
      const cv::Mat quantized = Pngquant(settings.pngquant, file, dir / ("pngquant-" + std::string(name)));
      if (quantized.empty() || quantized.size() != bgr.size()) {
        std::fprintf(stderr, "zef_quality: pngquant failed on %s\n", name);
        ++failures;
        continue;
      }
      psnr["pngquant"] = zef::quantize::VisiblePsnr(bgr, alpha, kAlphaValues, quantized);
    }
    if (reduced->colorsAfter > kColoursWithAlpha) {
      std::fprintf(stderr, "zef_quality: %s kept %d colours\n", name, reduced->colorsAfter);
      ++failures;
    }
    for (const auto& [route, value] : psnr) tallies[route].Add(value);
    if (settings.verbose) {
      std::printf("%s %dx%d colours %d -> %d:", name, bgr.cols, bgr.rows, reduced->colorsBefore,
                  reduced->colorsAfter);
      for (const auto& [route, value] : psnr) std::printf(" %s %.2f", route.c_str(), value);
      std::printf("\n");
    }
  }

  std::printf("== quality: %d icons made, %d with more than %d colours after the 4-bit cut\n",
              settings.count, needing, kColoursWithAlpha);
  std::printf("mean PSNR of visible pixels (alpha code > 0 at %d alpha values), %d colours:\n", kAlphaValues,
              kColoursWithAlpha);
  std::printf("%-12s %10s %10s\n", "route", "mean dB", "least dB");
  for (const char* route : kRoutes) {
    const auto found = tallies.find(route);
    if (found == tallies.end()) {
      std::printf("%-12s %10s %10s  %s\n", route, "-", "-",
                  std::strcmp(route, "pngquant") == 0 ? "skipped: pngquant not found" : "not measured");
      continue;
    }
    std::printf("%-12s %10.2f %10.2f\n", route, found->second.Mean(), found->second.least);
  }
  int missed = failures;
  const double ours = tallies["reduce"].Mean();
  const bool metLeast = ours >= kLeastPsnr;
  std::printf("target: reduce >= %.1f dB: %.2f dB, %s\n", kLeastPsnr, ours, metLeast ? "met" : "MISSED");
  missed += metLeast ? 0 : 1;
  if (tallies.count("pngquant") != 0) {
    const double gain = ours - tallies["pngquant"].Mean();
    const bool metGain = gain >= kLeastGainOverPngquant;
    std::printf("target: reduce >= pngquant + %.1f dB: %+.2f dB, %s\n", kLeastGainOverPngquant, gain,
                metGain ? "met" : "MISSED");
    missed += metGain ? 0 : 1;
  } else {
    std::printf("target: reduce >= pngquant + %.1f dB: skipped, %s not found\n", kLeastGainOverPngquant,
                settings.pngquant.c_str());
  }
  if (removeDir) fs::remove_all(dir, error);
  return missed == 0 ? 0 : 2;
}

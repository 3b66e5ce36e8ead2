// zef_fidelity: bytes and composite PSNR of the archive versions against
// the peer formats, on the two sets of bench/FidelitySets.h (icons with
// soft shadows, short-run pixel-art sprites). Prints one row per format
// with the set's total bytes and its pooled composite PSNR, then the
// targets of version 4 at its default quality, met or missed; optionally
// the same table in Markdown and a plot of bytes against quality.
//
// usage: zef_fidelity [--icons N] [--sprites N] [--markdown] [--plot FILE.png]
// Exit 0 when every target is met, 2 when one is missed, 1 when a step fails.
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "archive/ZefDecode.h"
#include "bench/FidelitySets.h"
#include "bench/PackedSets.h"
#include "bench/PeerFormats.h"
#include "bench/quality/FidelityPlot.h"
#include "quantize/CompositePsnr.h"
#include "quantize/ReduceRgba.h"

namespace {

namespace fs = std::filesystem;
using zefbench::PictureSet;

// Version 4 at its default quality must show at least this composite PSNR
// on both sets, in at most this share of the RGB565A8 + LZ4 bytes and at
// most the bytes of the packed palette + LZ4.
constexpr double kLeastPsnr = 40.0;
constexpr double kMostShareOfRgb565A8 = 0.8;
constexpr double kDefaultQuality = 40.0;  // of zef pack --format v4
constexpr int kPaletteColours = 64;

struct Settings {
  int icons = zefbench::kFidelityIconCount;
  int sprites = zefbench::kFidelitySpriteCount;
  bool markdown = false;
  std::string plot;
};

bool ParseArguments(int argc, char** argv, Settings& settings) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const bool hasValue = i + 1 < argc;
    if (argument == "--icons" && hasValue) {
      settings.icons = std::atoi(argv[++i]);
    } else if (argument == "--sprites" && hasValue) {
      settings.sprites = std::atoi(argv[++i]);
    } else if (argument == "--plot" && hasValue) {
      settings.plot = argv[++i];
    } else if (argument == "--markdown") {
      settings.markdown = true;
    } else {
      return false;
    }
  }
  return settings.icons > 0 && settings.sprites > 0;
}

// One format on one set: its bytes and the pooled error of what it shows.
struct Measured {
  uint64_t bytes = 0;
  zef::CompositeError error;
  std::string failure;  // empty: measured
};

// What a format stands for in the targets.
// kPackedPalette is the quantizer's best 64 colours; kPackedPaletteCapped
// the same quantizer at zef pack's quality with 64 colours at most, which
// is smaller where 64 colours fall short of the quality, and lower in PSNR.
enum class Role { kShown, kVersion4Default, kRgb565A8, kPackedPalette, kPackedPaletteCapped };

// A format: how to measure it on a set whose PNG files are in `folder`.
struct Format {
  std::string name;
  std::function<Measured(const PictureSet&, const std::string& folder)> measure;
  Role role = Role::kShown;
};

// The archive's pictures as a display shows them, BGRA.
std::vector<cv::Mat> DecodedPictures(const std::vector<uint8_t>& bytes, std::string* failure) {
  const zef::DecodeResult decoded = zef::Decode(bytes.data(), bytes.size());
  if (!decoded.Ok()) {
    *failure = "the archive does not decode: " + decoded.message;
    return {};
  }
  std::vector<cv::Mat> pictures;
  for (const zef::DecodedImage& image : decoded.images) {
    cv::Mat picture(int(image.height), int(image.width), CV_8UC4);
    for (size_t p = 0; p < picture.total(); ++p) {
      const uint8_t alpha = image.alphaCodes.empty()
                                ? 255
                                : zef::Alpha8(image.alphaCodes[p], decoded.info.alphaBits);
      picture.at<cv::Vec4b>(int(p)) = cv::Vec4b(image.pixels[p * 3], image.pixels[p * 3 + 1],
                                                image.pixels[p * 3 + 2], alpha);
    }
    pictures.push_back(picture);
  }
  return pictures;
}

// The archive's size and the error of what it shows, into *measured.
void MeasureArchive(const PictureSet& set, const std::vector<uint8_t>& bytes, Measured& measured) {
  const std::vector<cv::Mat> shown = DecodedPictures(bytes, &measured.failure);
  if (shown.size() != set.pictures.size()) {
    if (measured.failure.empty()) measured.failure = "the archive holds another number of pictures";
    return;
  }
  measured.bytes = bytes.size();
  for (size_t n = 0; n < shown.size(); ++n) measured.error.Add(zef::CompositeErrorOf(set.pictures[n], shown[n]));
}

Format Packed(const std::string& name, const zef::tool::PackOptions& options, Role role = Role::kShown) {
  return {name, [options](const PictureSet& set, const std::string& folder) {
            Measured measured;
            const std::vector<uint8_t> bytes = zefbench::PackSet(set, folder, options, &measured.failure);
            if (!bytes.empty()) MeasureArchive(set, bytes, measured);
            return measured;
          },
          role};
}

Measured MeasureRgb565A8(const PictureSet& set, const std::string&) {
  Measured measured;
  for (const cv::Mat& picture : set.pictures) {
    const std::vector<uint8_t> compressed = zefbench::Lz4Compress(zefbench::Rgb565A8Plane(picture));
    if (compressed.empty()) {
      measured.failure = "LZ4 refused a picture";
      return measured;
    }
    measured.bytes += compressed.size() + zefbench::kPeerHeaderBytes;
    measured.error.Add(zef::CompositeErrorOf(picture, zefbench::ShownRgb565A8(picture)));
  }
  return measured;
}

// Our own RGBA quantizer to at most kPaletteColours entries, at the
// quality `zef pack --colors 64` asks for, or at its best when the
// quality is infinite.
Measured MeasurePackedPalette(const PictureSet& set, double quality) {
  Measured measured;
  zef::quantize::RgbaOptions options;
  options.quality = quality;
  options.maxColors = kPaletteColours;
  for (const cv::Mat& picture : set.pictures) {
    cv::Mat bgr, alpha;
    cv::cvtColor(picture, bgr, cv::COLOR_BGRA2BGR);
    cv::extractChannel(picture, alpha, 3);
    const auto reduced = zef::quantize::ReduceRgba(bgr, alpha, options);
    if (!reduced) {
      measured.failure = "the quantizer refused a picture";
      return measured;
    }
    zefbench::PalettedPicture paletted{cv::Mat(picture.size(), CV_8UC1), {}};
    std::copy(reduced->indices.begin(), reduced->indices.end(), paletted.indices.ptr<uint8_t>());
    for (const zef::quantize::RgbaEntry& entry : reduced->palette) {
      paletted.palette.emplace_back(entry.blue, entry.green, entry.red, entry.alpha);
    }
    const std::vector<uint8_t> compressed = zefbench::Lz4Compress(zefbench::PackedPalettePlane(paletted));
    if (compressed.empty()) {
      measured.failure = "LZ4 refused a picture";
      return measured;
    }
    measured.bytes += compressed.size() + zefbench::kPeerHeaderBytes;
    measured.error.Add(zef::CompositeErrorOf(picture, zefbench::ShownPaletted(paletted)));
  }
  return measured;
}

// Version 4 as the library makes it: each picture reduced for the quality
// (at most 256 entries), the archive written by EncodeIndexed and decoded
// by the library core, whose decode is what the device decoder shows.
Format Version4(double quality, Role role = Role::kShown) {
  char name[48];
  std::snprintf(name, sizeof name, "version 4, quality %.0f dB", quality);
  return {name,
          [quality](const PictureSet& set, const std::string&) {
            Measured measured;
            const std::vector<uint8_t> bytes = zefbench::Version4Archive(set, quality, &measured.failure);
            if (!bytes.empty()) MeasureArchive(set, bytes, measured);
            return measured;
          },
          role};
}

std::vector<Format> Formats() {
  zef::tool::PackOptions version3;
  return {
      Packed("version 3 (zef pack)", version3),
      Version4(36),
      Version4(kDefaultQuality, Role::kVersion4Default),
      Version4(44),
      {"RGB565A8 + LZ4", MeasureRgb565A8, Role::kRgb565A8},
      {"packed palette + LZ4, 64 colours",
       [](const PictureSet& set, const std::string&) { return MeasurePackedPalette(set, INFINITY); },
       Role::kPackedPalette},
      {"packed palette + LZ4, <= 64 colours, 40 dB",
       [](const PictureSet& set, const std::string&) { return MeasurePackedPalette(set, kDefaultQuality); },
       Role::kPackedPaletteCapped},
  };
}

std::string Decibels(double psnr) {
  if (std::isinf(psnr)) return "inf";
  char text[16];
  std::snprintf(text, sizeof text, "%.2f", psnr);
  return text;
}

std::string Kilobytes(uint64_t bytes) {
  char text[24];
  std::snprintf(text, sizeof text, "%.1f", bytes / 1024.0);
  return text;
}

// The measurement of the format with this role on set `s`; null when the
// format is not in the list or its measurement failed.
const Measured* Find(const std::vector<Format>& formats, const std::vector<std::vector<Measured>>& results,
                     Role role, size_t s) {
  for (size_t f = 0; f < formats.size(); ++f) {
    if (formats[f].role == role) return results[f][s].failure.empty() ? &results[f][s] : nullptr;
  }
  return nullptr;
}

// Prints the targets of version 4 at its default quality on each set;
// returns how many were missed or could not be measured.
int CheckTargets(const std::vector<PictureSet>& sets, const std::vector<Format>& formats,
                 const std::vector<std::vector<Measured>>& results) {
  int missed = 0;
  const auto verdict = [&missed](bool measured, bool met) {
    if (!measured || !met) ++missed;
    return !measured ? "not measured" : met ? "met" : "MISSED";
  };
  std::printf("\ntargets of version 4 at its default quality:\n");
  for (size_t s = 0; s < sets.size(); ++s) {
    const char* name = sets[s].name.c_str();
    const Measured* ours = Find(formats, results, Role::kVersion4Default, s);
    const Measured* rgb565a8 = Find(formats, results, Role::kRgb565A8, s);
    const Measured* palette = Find(formats, results, Role::kPackedPalette, s);
    const double psnr = ours ? ours->error.Psnr() : NAN;
    std::printf("  %-8s composite PSNR >= %.0f dB: %s dB, %s\n", name, kLeastPsnr,
                ours ? Decibels(psnr).c_str() : "-", verdict(ours, psnr >= kLeastPsnr));
    const double share = ours && rgb565a8 ? double(ours->bytes) / double(rgb565a8->bytes) : NAN;
    std::printf("  %-8s bytes <= %.1f x RGB565A8 + LZ4: %.3f x, %s\n", name, kMostShareOfRgb565A8, share,
                verdict(ours && rgb565a8, share <= kMostShareOfRgb565A8));
    const double ratio = ours && palette ? double(ours->bytes) / double(palette->bytes) : NAN;
    std::printf("  %-8s bytes <= packed palette + LZ4: %.3f x, %s\n", name, ratio,
                verdict(ours && palette, ratio <= 1.0));
    const Measured* capped = Find(formats, results, Role::kPackedPaletteCapped, s);
    if (ours && capped) {
      std::printf("  %-8s bytes vs packed palette + LZ4 at 40 dB, <= 64 colours: %.3f x at %+.2f dB, shown only\n",
                  name, double(ours->bytes) / double(capped->bytes), psnr - capped->error.Psnr());
    }
  }
  return missed;
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  if (!ParseArguments(argc, argv, settings)) {
    std::fprintf(stderr, "usage: zef_fidelity [--icons N] [--sprites N] [--markdown] [--plot FILE.png]\n");
    return 2;
  }
  std::string pattern = (fs::temp_directory_path() / "zef-fidelity.XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("zef_fidelity: mkdtemp");
    return 1;
  }
  const fs::path work = pattern;
  const std::vector<PictureSet> sets = {zefbench::FidelityIcons(settings.icons),
                                        zefbench::FidelitySprites(settings.sprites)};
  const std::vector<Format> formats = Formats();
  // results[format][set]
  std::vector<std::vector<Measured>> results(formats.size());
  int failures = 0;
  for (size_t f = 0; f < formats.size(); ++f) {
    for (const PictureSet& set : sets) {
      results[f].push_back(formats[f].measure(set, (work / set.name).string()));
      if (!results[f].back().failure.empty()) {
        std::fprintf(stderr, "zef_fidelity: %s on %s: %s\n", formats[f].name.c_str(), set.name.c_str(),
                     results[f].back().failure.c_str());
        ++failures;
      }
    }
  }
  std::error_code ignored;
  fs::remove_all(work, ignored);

  std::printf("== fidelity: archive bytes and composite PSNR pooled over each set (%d icons, %d sprites)\n",
              settings.icons, settings.sprites);
  std::printf("%-44s %12s %10s %12s %10s\n", "format", "icons KB", "icons dB", "sprites KB", "sprites dB");
  for (size_t f = 0; f < formats.size(); ++f) {
    std::printf("%-44s", formats[f].name.c_str());
    for (const Measured& m : results[f]) {
      std::printf(" %12s %10s", m.failure.empty() ? Kilobytes(m.bytes).c_str() : "-",
                  m.failure.empty() ? Decibels(m.error.Psnr()).c_str() : "-");
    }
    std::printf("\n");
  }
  if (settings.markdown) {
    std::printf("\n| format | icons: bytes | icons: composite PSNR | sprites: bytes | sprites: composite PSNR |\n"
                "|---|---:|---:|---:|---:|\n");
    for (size_t f = 0; f < formats.size(); ++f) {
      std::printf("| %s |", formats[f].name.c_str());
      for (const Measured& m : results[f]) {
        std::printf(" %s KB | %s dB |", Kilobytes(m.bytes).c_str(), Decibels(m.error.Psnr()).c_str());
      }
      std::printf("\n");
    }
  }
  if (!settings.plot.empty()) {
    zefquality::PlotData plot;
    plot.targetPsnr = kLeastPsnr;
    for (const Format& format : formats) plot.formats.push_back(format.name);
    for (size_t s = 0; s < sets.size(); ++s) {
      zefquality::PlotPanel panel{sets[s].name + " (" + std::to_string(sets[s].pictures.size()) + ")", {}};
      for (size_t f = 0; f < formats.size(); ++f) {
        if (results[f][s].failure.empty()) {
          panel.points.push_back({int(f), results[f][s].error.Psnr(), results[f][s].bytes / 1024.0});
        }
      }
      plot.panels.push_back(panel);
    }
    if (!zefquality::WritePlot(plot, settings.plot)) {
      std::fprintf(stderr, "zef_fidelity: cannot write %s\n", settings.plot.c_str());
      ++failures;
    }
  }
  const int missed = CheckTargets(sets, formats, results);
  return failures != 0 ? 1 : missed != 0 ? 2 : 0;
}

// zef_mono: what a 1-bit display shows of the fidelity sets, packed as
// the colour archive (version 4 at its default quality) and thresholded at
// 50 % luma when drawn, against version 4 archives of `zef pack --target
// gray:1` (nearest, Floyd-Steinberg, ordered), drawn the same way.
//
// Each image is drawn over a white canvas (e-paper) and over a black one
// (OLED): its luma (BT.601, rounded) blended by its alpha, then on where
// the blend is at least 128. The eye sees a 1-bit picture from a distance,
// blurred, so both the drawing and the source's luma over the same canvas
// are blurred (Gaussian, sigma 1.2) before their PSNR is taken, pooled
// over the set. The pixels come from the library's decode.
//
// usage: zef_mono [--icons N] [--sprites N]
// Exit 0, or 1 when a step fails.
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/ZefDecode.h"
#include "bench/FidelitySets.h"
#include "bench/PackedSets.h"
#include "quantize/ReduceGrey.h"

namespace {

namespace fs = std::filesystem;
using zefbench::PictureSet;

constexpr double kBlurSigma = 1.2;
constexpr double kOn = 128;  // the threshold of the 1-bit canvas, of 255
constexpr int kDefaultIcons = 200, kDefaultSprites = 300;

struct Archive {
  std::string name;
  std::vector<std::string> options;  // as given to zef pack, for the table
};

struct Pooled {
  double squares = 0;
  double samples = 0;
  double Psnr() const { return squares == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 * samples / squares); }
};

// Luma over a canvas of `background`, as floats.
cv::Mat OverCanvas(const cv::Mat& bgr, const cv::Mat& alpha, double background) {
  const cv::Mat grey = zef::quantize::GreyOf(bgr);
  cv::Mat out(bgr.size(), CV_32FC1);
  for (int y = 0; y < bgr.rows; ++y) {
    for (int x = 0; x < bgr.cols; ++x) {
      const double a = alpha.empty() ? 1.0 : alpha.at<uint8_t>(y, x) / 255.0;
      out.at<float>(y, x) = float(grey.at<cv::Vec3b>(y, x)[0] * a + background * (1 - a));
    }
  }
  return out;
}

cv::Mat Blurred(const cv::Mat& picture) {
  cv::Mat blurred;
  cv::GaussianBlur(picture, blurred, cv::Size(), kBlurSigma, kBlurSigma, cv::BORDER_REPLICATE);
  return blurred;
}

void Add(Pooled& pooled, const cv::Mat& a, const cv::Mat& b) {
  cv::Mat difference = a - b;
  pooled.squares += difference.dot(difference);
  pooled.samples += double(a.total());
}

bool Measure(const PictureSet& set, const fs::path& work, const Archive& archive, const char* shown,
             Pooled pooled[2], size_t* bytes) {
  zef::tool::PackOptions options;
  options.format = zef::tool::ArchiveFormat::kVersion4;
  if (archive.options[0] == "gray:1") {
    options.greyBits = 1;
    options.orderedDither = archive.options.back() == "ordered";
    options.ditherStrength = archive.options.back() == "fs" ? 1.0f : 0.0f;
  }
  std::string error;
  const std::vector<uint8_t> packed = zefbench::PackSet(set, (work / set.name).string(), options, &error);
  const zef::DecodeResult decoded = zef::Decode(packed.data(), packed.size());
  if (packed.empty() || !decoded.Ok() || decoded.images.size() != set.pictures.size()) {
    std::fprintf(stderr, "zef_mono: %s, %s: %s\n", set.name.c_str(), archive.name.c_str(),
                 error.empty() ? decoded.message.c_str() : error.c_str());
    return false;
  }
  *bytes = packed.size();
  for (size_t n = 0; n < set.pictures.size(); ++n) {
    const cv::Mat& picture = set.pictures[n];
    cv::Mat bgr, alpha;
    cv::cvtColor(picture, bgr, cv::COLOR_BGRA2BGR);
    cv::extractChannel(picture, alpha, 3);
    const zef::DecodedImage& image = decoded.images[n];
    const cv::Mat decodedBgr(int(image.height), int(image.width), CV_8UC3, const_cast<uint8_t*>(image.pixels.data()));
    const cv::Mat decodedAlpha(int(image.height), int(image.width), CV_8UC1,
                               const_cast<uint8_t*>(image.alphaCodes.data()));
    for (int canvas = 0; canvas < 2; ++canvas) {
      const double background = canvas == 0 ? 255 : 0;
      cv::Mat drawn = OverCanvas(decodedBgr, decodedAlpha, background);
      cv::threshold(drawn, drawn, kOn - 0.5, 255, cv::THRESH_BINARY);
      Add(pooled[canvas], Blurred(drawn), Blurred(OverCanvas(bgr, alpha, background)));
    }
  }
  std::printf("| %-8s | %-38s | %-36s | %9zu | %7.2f | %7.2f |\n", set.name.c_str(), archive.name.c_str(), shown,
              *bytes, pooled[0].Psnr(), pooled[1].Psnr());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int icons = kDefaultIcons, sprites = kDefaultSprites;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string argument = argv[i];
    if (argument == "--icons") {
      icons = std::atoi(argv[i + 1]);
    } else if (argument == "--sprites") {
      sprites = std::atoi(argv[i + 1]);
    } else {
      std::fprintf(stderr, "usage: zef_mono [--icons N] [--sprites N]\n");
      return 1;
    }
  }
  const fs::path work = fs::temp_directory_path() / ("zef_mono_" + std::to_string(getpid()));
  const std::vector<Archive> archives = {{"colour (--format v4)", {"--format", "v4"}},
                                         {"--target gray:1 --dither none", {"gray:1", "none"}},
                                         {"--target gray:1 --dither fs", {"gray:1", "fs"}},
                                         {"--target gray:1 --dither ordered", {"gray:1", "ordered"}}};
  std::printf("PSNR in dB of the blurred 1-bit drawing (sigma %.1f) against the blurred source luma\n\n", kBlurSigma);
  std::printf("| set      | archive                                | drawn on the 1-bit canvas            |     bytes |   white |   black |\n");
  std::printf("|---|---|---|---:|---:|---:|\n");
  bool ok = true;
  for (const PictureSet& set : {zefbench::FidelityIcons(icons), zefbench::FidelitySprites(sprites)}) {
    for (const Archive& archive : archives) {
      Pooled pooled[2];
      size_t bytes = 0;
      const char* shown = archive.options[0] == "gray:1" ? "its levels, thresholded at 50 %" : "thresholded at 50 % luma";
      ok = Measure(set, work, archive, shown, pooled, &bytes) && ok;
    }
  }
  fs::remove_all(work);
  return ok ? 0 : 1;
}

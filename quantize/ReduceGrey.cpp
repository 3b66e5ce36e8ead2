#include "quantize/ReduceGrey.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <new>
#include <vector>

namespace zef::quantize {

namespace {

constexpr int kMostEntries = 256;
constexpr int kBayerSide = 8;
constexpr int kBayerCells = kBayerSide * kBayerSide;
// Floyd-Steinberg's shares of an error, in sixteenths: right, then the
// next line's left, middle and right.
constexpr float kRight = 7 / 16.0f, kBelowLeft = 3 / 16.0f, kBelow = 5 / 16.0f, kBelowRight = 1 / 16.0f;

// The Bayer map of side 2n from that of side n: each cell c becomes
// 4c + (0, 2 / 3, 1) by its quarter.
constexpr std::array<std::array<int, kBayerSide>, kBayerSide> BayerMap() {
  std::array<std::array<int, kBayerSide>, kBayerSide> map{};
  constexpr int kQuarter[2][2] = {{0, 2}, {3, 1}};
  for (int side = 1; side < kBayerSide; side *= 2) {
    for (int y = 2 * side - 1; y >= 0; --y) {
      for (int x = 2 * side - 1; x >= 0; --x) {
        map[size_t(y)][size_t(x)] = 4 * map[size_t(y % side)][size_t(x % side)] + kQuarter[y / side][x / side];
      }
    }
  }
  return map;
}

constexpr auto kBayer = BayerMap();

bool ValidOptions(const GreyOptions& options) {
  const int bits = options.bits;
  return (bits == 1 || bits == 2 || bits == 4 || bits == 8) && options.strength > 0 && options.strength <= 1;
}

struct Levels {
  int count;
  float step;  // 255 / (count - 1): each level's value is a whole number
  int Value(int level) const { return int(std::lround(level * step)); }
  int Nearest(float value) const { return std::clamp(int(std::lround(value / step)), 0, count - 1); }
};

// One level per pixel, row by row; pixels of alpha 0 take level 0.
std::vector<uint8_t> ChooseLevels(const cv::Mat& grey, const cv::Mat& alpha, const Levels& levels,
                                  const GreyOptions& options) {
  const int width = grey.cols, height = grey.rows;
  std::vector<uint8_t> chosen(size_t(width) * size_t(height));
  // Errors carried to this line and to the next, one guard cell each side.
  std::vector<float> here(size_t(width) + 2), next(size_t(width) + 2);
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = grey.ptr<uint8_t>(y);
    const uint8_t* alphaRow = alpha.ptr<uint8_t>(y);
    uint8_t* out = chosen.data() + size_t(y) * size_t(width);
    std::fill(next.begin(), next.end(), 0.0f);
    for (int x = 0; x < width; ++x) {
      if (alphaRow[x] == 0) {
        out[x] = 0;
        continue;
      }
      const float value = row[3 * x];
      switch (options.dither) {
        case GreyDither::kNone:
          out[x] = uint8_t(levels.Nearest(value));
          break;
        case GreyDither::kOrdered: {
          const float offset = (kBayer[size_t(y % kBayerSide)][size_t(x % kBayerSide)] + 0.5f) / kBayerCells - 0.5f;
          out[x] = uint8_t(levels.Nearest(value + offset * levels.step));
          break;
        }
        case GreyDither::kFloydSteinberg: {
          // Clamped, so that a run of black or white builds up no error
          // that would bleed past its edge.
          const float wanted = std::clamp(value + here[size_t(x) + 1], 0.0f, 255.0f);
          const int level = levels.Nearest(wanted);
          out[x] = uint8_t(level);
          const float error = (wanted - float(levels.Value(level))) * options.strength;
          here[size_t(x) + 2] += error * kRight;
          next[size_t(x)] += error * kBelowLeft;
          next[size_t(x) + 1] += error * kBelow;
          next[size_t(x) + 2] += error * kBelowRight;
          break;
        }
      }
    }
    std::swap(here, next);
  }
  return chosen;
}

// Every pixel of alpha 0 is one key; others are level | alpha << 8.
uint32_t PairKey(int level, uint8_t alpha) { return alpha == 0 ? 0u : uint32_t(level) | uint32_t(alpha) << 8; }

int DistinctPairs(const std::vector<uint8_t>& levels, const cv::Mat& alpha) {
  std::vector<bool> seen(1u << 16);
  int count = 0;
  size_t n = 0;
  for (int y = 0; y < alpha.rows; ++y) {
    const uint8_t* alphaRow = alpha.ptr<uint8_t>(y);
    for (int x = 0; x < alpha.cols; ++x, ++n) {
      const uint32_t key = PairKey(levels[n], alphaRow[x]);
      if (!seen[key]) {
        seen[key] = true;
        ++count;
      }
    }
  }
  return count;
}

// Visible alpha rounded to `steps` values above 0 (some may round to 0).
cv::Mat CoarserAlpha(const cv::Mat& alpha, int steps) {
  uint8_t table[256];
  for (int a = 0; a < 256; ++a) {
    table[a] = uint8_t(std::lround(std::lround(a * steps / 255.0) * 255.0 / steps));
  }
  cv::Mat coarse;
  cv::LUT(alpha, cv::Mat(1, 256, CV_8UC1, table), coarse);
  return coarse;
}

}  // namespace

cv::Mat GreyOf(const cv::Mat& bgr) {
  if (bgr.type() != CV_8UC3) return {};
  cv::Mat grey(bgr.size(), CV_8UC3);
  for (int y = 0; y < bgr.rows; ++y) {
    const uint8_t* in = bgr.ptr<uint8_t>(y);
    uint8_t* out = grey.ptr<uint8_t>(y);
    for (int x = 0; x < bgr.cols; ++x, in += 3, out += 3) {
      const uint8_t luma = uint8_t((114 * in[0] + 587 * in[1] + 299 * in[2] + 500) / 1000);
      out[0] = out[1] = out[2] = luma;
    }
  }
  return grey;
}

std::optional<RgbaResult> ReduceGrey(const cv::Mat& grey, const cv::Mat& alpha, const GreyOptions& options) {
  if (grey.type() != CV_8UC3 || !ValidOptions(options)) return std::nullopt;
  if (!alpha.empty() && (alpha.type() != CV_8UC1 || alpha.size() != grey.size())) return std::nullopt;
  try {
    const cv::Mat sourceAlpha = alpha.empty() ? cv::Mat(grey.size(), CV_8UC1, cv::Scalar(255)) : alpha;
    const Levels levels{1 << options.bits, 255.0f / float((1 << options.bits) - 1)};
    cv::Mat shownAlpha = sourceAlpha;
    std::vector<uint8_t> chosen = ChooseLevels(grey, shownAlpha, levels, options);
    if (DistinctPairs(chosen, shownAlpha) > kMostEntries) {
      if (options.bits == 8) {
        RgbaOptions rgba;
        rgba.quality = options.quality;
        // Entries of a grey picture come out grey: each is a weighted mean
        // of equal channels.
        return ReduceRgba(grey, alpha, rgba);
      }
      // With the transparent entry, levels x steps + 1 pairs fit.
      shownAlpha = CoarserAlpha(sourceAlpha, (kMostEntries - 1) / levels.count);
      chosen = ChooseLevels(grey, shownAlpha, levels, options);
    }

    RgbaResult result;
    result.width = grey.cols;
    result.height = grey.rows;
    result.indices.resize(chosen.size());
    std::vector<int> entryOf(1u << 16, -1);
    std::vector<bool> sourceSeen(1u << 16);
    size_t n = 0;
    for (int y = 0; y < grey.rows; ++y) {
      const uint8_t* row = grey.ptr<uint8_t>(y);
      const uint8_t* before = sourceAlpha.ptr<uint8_t>(y);
      const uint8_t* after = shownAlpha.ptr<uint8_t>(y);
      for (int x = 0; x < grey.cols; ++x, ++n) {
        const uint32_t source = PairKey(row[3 * x], before[x]);
        if (!sourceSeen[source]) {
          sourceSeen[source] = true;
          ++result.colorsBefore;
        }
        const uint8_t value = uint8_t(levels.Value(chosen[n]));
        const uint32_t key = PairKey(chosen[n], after[x]);
        if (entryOf[key] < 0) {
          entryOf[key] = int(result.palette.size());
          result.palette.push_back(after[x] == 0 ? RgbaEntry{} : RgbaEntry{value, value, value, after[x]});
        }
        result.indices[n] = uint8_t(entryOf[key]);
        result.reduced = result.reduced || (before[x] != 0 && (value != row[3 * x] || after[x] != before[x]));
      }
    }
    std::vector<cv::Vec4b> entries;
    for (const RgbaEntry& entry : result.palette) entries.emplace_back(entry.blue, entry.green, entry.red, entry.alpha);
    result.error = CompositeErrorOfIndexed(grey, alpha, entries, result.indices);
    return result;
  } catch (const std::bad_alloc&) {
  } catch (const cv::Exception&) {
  }
  return std::nullopt;
}

}  // namespace zef::quantize

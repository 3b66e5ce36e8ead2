#include "quantize/Quantize.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <new>
#include <vector>

#include "quantize/PaletteSearch.h"

namespace zef::quantize {

namespace {

using detail::BinMoments;
using detail::BinOf;
using detail::Colour;
using detail::kBins;

constexpr int kMostColours = 256;
constexpr int kFullWeight = 255;
constexpr int16_t kNoEntry = -1;
// Floyd-Steinberg shares of the error: right, below left, below, below right.
constexpr float kRightShare = 7.0f / 16, kBelowLeftShare = 3.0f / 16, kBelowShare = 5.0f / 16,
                kBelowRightShare = 1.0f / 16;

bool ValidInput(const cv::Mat& bgr, const cv::Mat& alpha, const ReduceOptions& options) {
  if (bgr.dims > 2 || bgr.type() != CV_8UC3) return false;
  if (!alpha.empty() && (alpha.dims > 2 || alpha.type() != CV_8UC1 || alpha.size() != bgr.size())) {
    return false;
  }
  if (options.maxColors < 1 || options.maxColors > kMostColours) return false;
  if (options.alphaValues != 0 && options.alphaValues != 2 && options.alphaValues != 4) return false;
  return std::isfinite(options.ditherStrength) && options.ditherStrength >= 0;
}

// Per mask byte: whether the pixel shows, and its weight in the histogram.
struct Visibility {
  std::array<bool, 256> visible{};
  std::array<int, 256> weight{};

  Visibility(bool maskUsed, int alphaValues) {
    for (int m = 0; m < 256; ++m) {
      visible[size_t(m)] = !maskUsed || AlphaCode(uint8_t(m), alphaValues) > 0;
      weight[size_t(m)] = !maskUsed ? kFullWeight : visible[size_t(m)] ? m : 0;
    }
  }
};

void AddPixel(BinMoments& moments, const uint8_t* pixel, int64_t weight) {
  moments.weight += weight;
  for (int c = 0; c < 3; ++c) {
    moments.sum[size_t(c)] += weight * pixel[c];
    moments.squares += weight * pixel[c] * pixel[c];
  }
}

Colour MeanOf(const BinMoments& moments) {
  const double weight = double(moments.weight);
  return Colour{{float(double(moments.sum[0]) / weight), float(double(moments.sum[1]) / weight),
                 float(double(moments.sum[2]) / weight)}};
}

std::vector<uint16_t> OccupiedBins(const std::vector<BinMoments>& histogram) {
  std::vector<uint16_t> bins;
  for (int bin = 0; bin < kBins; ++bin) {
    if (histogram[size_t(bin)].weight > 0) bins.push_back(uint16_t(bin));
  }
  return bins;
}

// One reduction: the histograms of the image, the palette chosen for it,
// and the map from stored colour to palette entry.
class Reduction {
 public:
  Reduction(const cv::Mat& bgr, const cv::Mat& alpha, const ReduceOptions& options)
      : bgr_(bgr),
        alpha_(alpha),
        options_(options),
        maskUsed_(!alpha.empty() && options.alphaValues != 0),
        visibility_(maskUsed_, options.alphaValues),
        visibleHistogram_(kBins),
        lookup_(kBins, kNoEntry) {
    for (int v = 0; v < 256; ++v) level_[size_t(v)] = uint8_t(LevelOf(v, options.levels));
  }

  ReduceResult Run() {
    ReduceResult result;
    Count();
    const bool unify = options_.unifyInvisible && hasInvisible_;
    const std::vector<uint16_t> visibleBins = OccupiedBins(visibleHistogram_);
    const std::vector<uint16_t> allBins = OccupiedBins(*all_);
    result.colorsBefore = int(visibleBins.size());
    const size_t needed = unify ? visibleBins.size() : allBins.size();
    result.reduced = needed > size_t(options_.maxColors);

    // A palette that already holds a pixel's own colour keeps it; a
    // searched one maps every colour to its nearest entry.
    bool exact = true;
    if (!result.reduced) {
      palette_ = unify ? visibleBins : allBins;
    } else if (!visibleBins.empty() && visibleBins.size() <= size_t(options_.maxColors)) {
      palette_ = visibleBins;
    } else {
      exact = false;
      palette_ = detail::SearchPalette(visibleBins.empty() ? *all_ : visibleHistogram_,
                                       options_.maxColors);
    }
    if (palette_.empty()) palette_.push_back(0);
    for (uint16_t bin : palette_) shown_.push_back(detail::ShownColour(bin));
    nearest_.emplace(shown_);
    if (exact) {
      for (size_t i = 0; i < palette_.size(); ++i) lookup_[palette_[i]] = int16_t(i);
    }
    unified_ = unify ? HeaviestEntry(visibleBins) : kNoEntry;

    result.bgr.create(bgr_.size(), CV_8UC3);
    if (options_.ditherStrength > 0) {
      WriteDithered(result.bgr);
    } else {
      WriteMapped(result.bgr);
    }
    result.colorsAfter = CountColours(result.bgr);
    return result;
  }

 private:
  bool Visible(int y, int x) const {
    return !maskUsed_ || visibility_.visible[alpha_.ptr<uint8_t>(y)[x]];
  }
  int BinOfPixel(const uint8_t* pixel) const {
    return BinOf(level_[pixel[0]], level_[pixel[1]], level_[pixel[2]]);
  }

  void Count() {
    // Colours kept under invisible pixels take palette entries too, so
    // they are counted (unweighted) beside the visible histogram.
    const bool countAll = maskUsed_ && !options_.unifyInvisible;
    if (countAll) {
      allHistogram_.assign(kBins, BinMoments{});
      all_ = &allHistogram_;
    }
    for (int y = 0; y < bgr_.rows; ++y) {
      const uint8_t* row = bgr_.ptr<uint8_t>(y);
      const uint8_t* mask = maskUsed_ ? alpha_.ptr<uint8_t>(y) : nullptr;
      for (int x = 0; x < bgr_.cols; ++x) {
        const uint8_t* pixel = row + 3 * x;
        const int bin = BinOfPixel(pixel);
        const uint8_t maskByte = mask != nullptr ? mask[x] : uint8_t(kFullWeight);
        if (!maskUsed_ || visibility_.visible[maskByte]) {
          AddPixel(visibleHistogram_[size_t(bin)], pixel, visibility_.weight[maskByte]);
        } else {
          hasInvisible_ = true;
        }
        if (countAll) AddPixel(allHistogram_[size_t(bin)], pixel, 1);
      }
    }
  }

  // The palette entry for a stored colour, found once per colour.
  int EntryOf(int bin) {
    int16_t& entry = lookup_[size_t(bin)];
    if (entry == kNoEntry) {
      const BinMoments& visible = visibleHistogram_[size_t(bin)];
      const BinMoments& all = (*all_)[size_t(bin)];
      const Colour colour = visible.weight > 0 ? MeanOf(visible)
                            : all.weight > 0   ? MeanOf(all)
                                               : detail::ShownColour(bin);
      entry = int16_t(nearest_->Find(colour));
    }
    return entry;
  }

  // The entry that covers the most visible weight: invisible pixels take
  // it, so that they add no colour.
  int16_t HeaviestEntry(const std::vector<uint16_t>& visibleBins) {
    std::vector<int64_t> weight(palette_.size(), 0);
    for (uint16_t bin : visibleBins) weight[size_t(EntryOf(bin))] += visibleHistogram_[bin].weight;
    return int16_t(std::max_element(weight.begin(), weight.end()) - weight.begin());
  }

  int StoredEntry(int y, int x, const uint8_t* pixel) {
    if (unified_ != kNoEntry && !Visible(y, x)) return unified_;
    return EntryOf(BinOfPixel(pixel));
  }

  void Put(uint8_t* out, int entry) const {
    const uint16_t bin = palette_[size_t(entry)];
    for (int c = 0; c < 3; ++c) out[c] = uint8_t(ShownValue(detail::LevelIn(bin, c)));
  }

  void WriteMapped(cv::Mat& out) {
    for (int y = 0; y < bgr_.rows; ++y) {
      const uint8_t* row = bgr_.ptr<uint8_t>(y);
      uint8_t* target = out.ptr<uint8_t>(y);
      for (int x = 0; x < bgr_.cols; ++x) Put(target + 3 * x, StoredEntry(y, x, row + 3 * x));
    }
  }

  // Error diffusion in 8-bit values among visible pixels; invisible ones
  // neither take nor pass on error.
  void WriteDithered(cv::Mat& out) {
    const float strength = options_.ditherStrength;
    const size_t width = size_t(bgr_.cols) + 2;
    std::vector<float> current(width * 3, 0.0f), below(width * 3, 0.0f);
    std::vector<int16_t> ditherLookup(kBins, kNoEntry);
    for (int y = 0; y < bgr_.rows; ++y) {
      const uint8_t* row = bgr_.ptr<uint8_t>(y);
      uint8_t* target = out.ptr<uint8_t>(y);
      std::fill(below.begin(), below.end(), 0.0f);
      for (int x = 0; x < bgr_.cols; ++x) {
        const uint8_t* pixel = row + 3 * x;
        if (!Visible(y, x)) {
          Put(target + 3 * x, StoredEntry(y, x, pixel));
          continue;
        }
        float* error = &current[size_t(x + 1) * 3];
        float value[3];
        int level[3];
        for (int c = 0; c < 3; ++c) {
          value[c] = std::clamp(float(pixel[c]) + error[c], 0.0f, 255.0f);
          level[c] = LevelOf(int(std::lround(value[c])), Levels::kNearest);
        }
        const int bin = BinOf(level[0], level[1], level[2]);
        int16_t& entry = ditherLookup[size_t(bin)];
        if (entry == kNoEntry) entry = int16_t(nearest_->Find(detail::ShownColour(bin)));
        Put(target + 3 * x, entry);
        for (int c = 0; c < 3; ++c) {
          const float spread = strength * (value[c] - shown_[size_t(entry)].channel[c]);
          current[size_t(x + 2) * 3 + size_t(c)] += spread * kRightShare;
          below[size_t(x) * 3 + size_t(c)] += spread * kBelowLeftShare;
          below[size_t(x + 1) * 3 + size_t(c)] += spread * kBelowShare;
          below[size_t(x + 2) * 3 + size_t(c)] += spread * kBelowRightShare;
        }
      }
      std::swap(current, below);
    }
  }

  static int CountColours(const cv::Mat& image) {
    std::vector<bool> seen(kBins, false);
    int colours = 0;
    for (int y = 0; y < image.rows; ++y) {
      const uint8_t* row = image.ptr<uint8_t>(y);
      for (int x = 0; x < image.cols; ++x) {
        const uint8_t* pixel = row + 3 * x;
        const int bin = BinOf(pixel[0] >> 4, pixel[1] >> 4, pixel[2] >> 4);
        if (!seen[size_t(bin)]) {
          seen[size_t(bin)] = true;
          ++colours;
        }
      }
    }
    return colours;
  }

  const cv::Mat& bgr_;
  const cv::Mat& alpha_;
  const ReduceOptions& options_;
  const bool maskUsed_;
  const Visibility visibility_;
  std::array<uint8_t, 256> level_{};
  std::vector<BinMoments> visibleHistogram_, allHistogram_;
  // Every pixel's colours: the visible histogram unless some are kept
  // under invisible pixels.
  const std::vector<BinMoments>* all_ = &visibleHistogram_;
  bool hasInvisible_ = false;
  std::vector<uint16_t> palette_;
  std::vector<Colour> shown_;
  std::optional<detail::NearestEntry> nearest_;
  std::vector<int16_t> lookup_;
  int16_t unified_ = kNoEntry;
};

}  // namespace

uint8_t AlphaCode(uint8_t maskByte, int alphaValues) {
  if (alphaValues == 2) return maskByte >> 7;
  if (alphaValues == 4) return maskByte >> 6;
  return 1;
}

uint8_t ShownAlpha(uint8_t alphaCode, int alphaValues) {
  if (alphaValues == 2) return alphaCode == 0 ? 0 : 255;
  if (alphaValues == 4) return uint8_t(std::min<int>(alphaCode, 3) * 255 / 3);
  return 255;
}

std::optional<ReduceResult> Reduce(const cv::Mat& bgr, const cv::Mat& alpha,
                                   const ReduceOptions& options) {
  if (!ValidInput(bgr, alpha, options)) return std::nullopt;
  try {
    return Reduction(bgr, alpha, options).Run();
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  } catch (const cv::Exception&) {
    return std::nullopt;
  }
}

double VisiblePsnr(const cv::Mat& sourceBgr, const cv::Mat& alpha, int alphaValues,
                   const cv::Mat& resultBgr) {
  if (sourceBgr.type() != CV_8UC3 || resultBgr.type() != CV_8UC3 ||
      sourceBgr.size() != resultBgr.size() || sourceBgr.dims > 2 ||
      (!alpha.empty() && (alpha.type() != CV_8UC1 || alpha.size() != sourceBgr.size()))) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  const bool maskUsed = !alpha.empty() && alphaValues != 0;
  int64_t squares = 0, values = 0;
  for (int y = 0; y < sourceBgr.rows; ++y) {
    const uint8_t* source = sourceBgr.ptr<uint8_t>(y);
    const uint8_t* result = resultBgr.ptr<uint8_t>(y);
    const uint8_t* mask = maskUsed ? alpha.ptr<uint8_t>(y) : nullptr;
    for (int x = 0; x < sourceBgr.cols; ++x) {
      if (mask != nullptr && AlphaCode(mask[x], alphaValues) == 0) continue;
      for (int c = 0; c < 3; ++c) {
        const int difference = int(source[3 * x + c]) - ShownValue(result[3 * x + c] >> 4);
        squares += difference * difference;
      }
      values += 3;
    }
  }
  if (squares == 0) return std::numeric_limits<double>::infinity();
  const double meanSquare = double(squares) / double(values);
  return 10.0 * std::log10(255.0 * 255.0 / meanSquare);
}

}  // namespace zef::quantize

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

// One reduction: the image's colours in order of first appearance
// ("slots") with their moments, the palette chosen for them, and each
// slot's palette entry.
class Reduction {
 public:
  Reduction(const cv::Mat& bgr, const cv::Mat& alpha, const ReduceOptions& options)
      : bgr_(bgr),
        alpha_(alpha),
        options_(options),
        maskUsed_(!alpha.empty() && options.alphaValues != 0),
        countAll_(maskUsed_ && !options.unifyInvisible),
        visibility_(maskUsed_, options.alphaValues),
        slotOf_(kBins, kNoEntry),
        pixelSlots_(bgr.total()) {
    for (int v = 0; v < 256; ++v) level_[size_t(v)] = uint8_t(LevelOf(v, options.levels));
  }

  ReduceResult Run() {
    ReduceResult result;
    Count();
    const bool unify = options_.unifyInvisible && hasInvisible_;
    std::vector<uint16_t> visibleBins, allBins;
    for (const BinMoments& moments : visible_) {
      allBins.push_back(moments.bin);
      if (moments.weight > 0) visibleBins.push_back(moments.bin);
    }
    std::sort(visibleBins.begin(), visibleBins.end());
    std::sort(allBins.begin(), allBins.end());
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
      palette_ = detail::SearchPalette(visibleBins.empty() ? all_ : visible_, options_.maxColors);
    }
    if (palette_.empty()) palette_.push_back(0);
    for (uint16_t bin : palette_) shown_.push_back(detail::ShownColour(bin));
    nearest_.emplace(shown_);
    slotEntry_.assign(visible_.size(), kNoEntry);
    if (exact) {
      for (size_t slot = 0; slot < visible_.size(); ++slot) {
        const auto found = std::lower_bound(palette_.begin(), palette_.end(), visible_[slot].bin);
        if (found != palette_.end() && *found == visible_[slot].bin) {
          slotEntry_[slot] = int16_t(found - palette_.begin());
        }
      }
    }
    unified_ = unify ? HeaviestEntry() : kNoEntry;

    result.bgr.create(bgr_.size(), CV_8UC3);
    used_.fill(false);
    if (options_.ditherStrength > 0) {
      WriteDithered(result.bgr);
    } else {
      WriteMapped(result.bgr);
    }
    result.colorsAfter = int(std::count(used_.begin(), used_.end(), true));
    return result;
  }

 private:
  const uint8_t* MaskRow(int y) const { return maskUsed_ ? alpha_.ptr<uint8_t>(y) : nullptr; }
  bool Visible(const uint8_t* maskRow, int x) const {
    return maskRow == nullptr || visibility_.visible[maskRow[x]];
  }

  void Count() {
    size_t at = 0;
    for (int y = 0; y < bgr_.rows; ++y) {
      const uint8_t* row = bgr_.ptr<uint8_t>(y);
      const uint8_t* mask = MaskRow(y);
      for (int x = 0; x < bgr_.cols; ++x, ++at) {
        const uint8_t* pixel = row + 3 * x;
        const int bin = BinOf(level_[pixel[0]], level_[pixel[1]], level_[pixel[2]]);
        int16_t& slot = slotOf_[size_t(bin)];
        if (slot == kNoEntry) {
          slot = int16_t(visible_.size());
          visible_.push_back(BinMoments{uint16_t(bin)});
          // Colours kept under invisible pixels take palette entries too,
          // so every pixel is also counted, unweighted.
          if (countAll_) all_.push_back(BinMoments{uint16_t(bin)});
        }
        pixelSlots_[at] = uint16_t(slot);
        const uint8_t maskByte = mask != nullptr ? mask[x] : uint8_t(kFullWeight);
        if (visibility_.visible[maskByte]) {
          AddPixel(visible_[size_t(slot)], pixel, visibility_.weight[maskByte]);
        } else {
          hasInvisible_ = true;
        }
        if (countAll_) AddPixel(all_[size_t(slot)], pixel, 1);
      }
    }
  }

  // The palette entry for a colour, found once per colour: nearest to the
  // mean of its visible pixels, or of all its pixels when none shows.
  int EntryOf(size_t slot) {
    int16_t& entry = slotEntry_[slot];
    if (entry == kNoEntry) {
      const BinMoments& visible = visible_[slot];
      const Colour colour = visible.weight > 0                     ? MeanOf(visible)
                            : countAll_ && all_[slot].weight > 0 ? MeanOf(all_[slot])
                                                                 : detail::ShownColour(visible.bin);
      entry = int16_t(nearest_->Find(colour));
    }
    return entry;
  }

  // The entry that covers the most visible weight: invisible pixels take
  // it, so that they add no colour.
  int16_t HeaviestEntry() {
    std::vector<int64_t> weight(palette_.size(), 0);
    for (size_t slot = 0; slot < visible_.size(); ++slot) {
      if (visible_[slot].weight > 0) weight[size_t(EntryOf(slot))] += visible_[slot].weight;
    }
    return int16_t(std::max_element(weight.begin(), weight.end()) - weight.begin());
  }

  int StoredEntry(const uint8_t* maskRow, int x, size_t at) {
    if (unified_ != kNoEntry && !Visible(maskRow, x)) return unified_;
    return EntryOf(pixelSlots_[at]);
  }

  void Put(uint8_t* out, int entry) {
    used_[size_t(entry)] = true;
    const uint16_t bin = palette_[size_t(entry)];
    for (int c = 0; c < 3; ++c) out[c] = uint8_t(ShownValue(detail::LevelIn(bin, c)));
  }

  void WriteMapped(cv::Mat& out) {
    size_t at = 0;
    for (int y = 0; y < bgr_.rows; ++y) {
      const uint8_t* mask = MaskRow(y);
      uint8_t* target = out.ptr<uint8_t>(y);
      for (int x = 0; x < bgr_.cols; ++x, ++at) Put(target + 3 * x, StoredEntry(mask, x, at));
    }
  }

  // Error diffusion in 8-bit values among visible pixels; invisible ones
  // neither take nor pass on error.
  void WriteDithered(cv::Mat& out) {
    const float strength = options_.ditherStrength;
    const size_t width = size_t(bgr_.cols) + 2;
    std::vector<float> current(width * 3, 0.0f), below(width * 3, 0.0f);
    std::vector<int16_t> ditherLookup(kBins, kNoEntry);
    size_t at = 0;
    for (int y = 0; y < bgr_.rows; ++y) {
      const uint8_t* row = bgr_.ptr<uint8_t>(y);
      const uint8_t* mask = MaskRow(y);
      uint8_t* target = out.ptr<uint8_t>(y);
      std::fill(below.begin(), below.end(), 0.0f);
      for (int x = 0; x < bgr_.cols; ++x, ++at) {
        if (!Visible(mask, x)) {
          Put(target + 3 * x, StoredEntry(mask, x, at));
          continue;
        }
        const uint8_t* pixel = row + 3 * x;
        float* error = &current[size_t(x + 1) * 3];
        float value[3];
        int level[3];
        for (int c = 0; c < 3; ++c) {
          value[c] = std::clamp(float(pixel[c]) + error[c], 0.0f, 255.0f);
          level[c] = LevelOf(int(value[c] + 0.5f), Levels::kNearest);
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

  const cv::Mat& bgr_;
  const cv::Mat& alpha_;
  const ReduceOptions& options_;
  const bool maskUsed_, countAll_;
  const Visibility visibility_;
  std::array<uint8_t, 256> level_{};
  // Per slot: the visible pixels' moments (weighted by their mask bytes)
  // and, when invisible pixels keep their colours, every pixel's.
  std::vector<BinMoments> visible_, all_;
  std::vector<int16_t> slotOf_;       // by bin
  std::vector<uint16_t> pixelSlots_;  // by pixel, rows in order
  bool hasInvisible_ = false;
  std::vector<uint16_t> palette_;
  std::vector<Colour> shown_;
  std::optional<detail::NearestEntry> nearest_;
  std::vector<int16_t> slotEntry_;
  int16_t unified_ = kNoEntry;
  std::array<bool, kMostColours> used_{};
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

#include "quantize/Quantize.h"

#include <algorithm>
#include <array>
#include <bit>
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

// PSNR in dB of 8-bit values from their summed squared errors.
double Psnr(int64_t squares, int64_t values) {
  if (squares == 0) return std::numeric_limits<double>::infinity();
  const double meanSquare = double(squares) / double(values);
  return 10.0 * std::log10(255.0 * 255.0 / meanSquare);
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
// ("slots"), the palette chosen for them, and each slot's palette entry.
// Moments are gathered only when a palette has to be searched or a colour
// mapped to its nearest entry; an image that fits needs neither.
class Reduction {
 public:
  Reduction(const cv::Mat& bgr, const cv::Mat& alpha, const ReduceOptions& options)
      : bgr_(bgr),
        alpha_(alpha),
        options_(options),
        maskUsed_(!alpha.empty() && options.alphaValues != 0),
        visibility_(maskUsed_, options.alphaValues),
        slotOf_(kBins, kNoEntry),
        pixelSlots_(bgr.total()) {
    for (int v = 0; v < 256; ++v) level_[size_t(v)] = uint8_t(LevelOf(v, options.levels));
  }

  ReduceResult Run() {
    ReduceResult result;
    Count();
    const bool unify = options_.unifyInvisible && hasInvisible_;
    // Both lists in ascending order, read off the bits of the bins present.
    std::vector<uint16_t> visibleBins, allBins;
    visibleBins.reserve(slotBins_.size());
    allBins.reserve(slotBins_.size());
    for (size_t word = 0; word < present_.size(); ++word) {
      for (uint64_t bits = present_[word]; bits != 0; bits &= bits - 1) {
        const int bin = int(word * 64) + std::countr_zero(bits);
        allBins.push_back(uint16_t(bin));
        if (visibleCount_[size_t(slotOf_[size_t(bin)])] > 0) visibleBins.push_back(uint16_t(bin));
      }
    }
    result.colorsBefore = int(visibleBins.size());
    maskedOut_ = visibleBins.empty();
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
      GatherMoments();
      palette_ = detail::SearchPalette(visibleBins.empty() ? all_ : visible_, options_.maxColors,
                                       &searchedEntry_);
    }
    if (palette_.empty()) palette_.push_back(0);
    for (uint16_t bin : palette_) {
      shown_.push_back(detail::ShownColour(bin));
      std::array<uint8_t, 3> bytes{};
      for (int c = 0; c < 3; ++c) bytes[size_t(c)] = uint8_t(ShownValue(detail::LevelIn(bin, c)));
      entryBytes_.push_back(bytes);
    }
    ChooseSlotEntries(exact, unify);
    unified_ = unify ? MostVisibleEntry() : kNoEntry;

    result.bgr.create(bgr_.size(), CV_8UC3);
    // An image whose colours all fit keeps each one's nearest level, as
    // without dithering: spreading the rounding would only add noise.
    if (options_.ditherStrength > 0 && result.reduced) {
      WriteDithered(result.bgr);
      result.psnr = VisiblePsnr(bgr_, alpha_, options_.alphaValues, result.bgr);
    } else {
      result.psnr = WriteMapped(result.bgr);
    }
    result.colorsAfter = int(std::count(used_.begin(), used_.end(), true));
    return result;
  }

 private:
  const uint8_t* MaskRow(int y) const { return maskUsed_ ? alpha_.ptr<uint8_t>(y) : nullptr; }
  bool Visible(const uint8_t* maskRow, int x) const {
    return maskRow == nullptr || visibility_.visible[maskRow[x]];
  }

  // Each pixel's slot, and how many visible pixels each slot has.
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
          slot = int16_t(slotBins_.size());
          slotBins_.push_back(uint16_t(bin));
          visibleCount_.push_back(0);
          present_[size_t(bin) / 64] |= uint64_t(1) << (bin % 64);
        }
        pixelSlots_[at] = uint16_t(slot);
        if (Visible(mask, x)) {
          ++visibleCount_[size_t(slot)];
        } else {
          hasInvisible_ = true;
        }
      }
    }
  }

  // Per slot: the visible pixels' moments, weighted by their mask bytes,
  // and, where colours stay under invisible pixels or nothing shows, every
  // pixel's, unweighted.
  void GatherMoments() {
    if (!visible_.empty()) return;
    const bool countAll = hasInvisible_ && (!options_.unifyInvisible || maskedOut_);
    for (uint16_t bin : slotBins_) {
      visible_.push_back(BinMoments{bin});
      if (countAll) all_.push_back(BinMoments{bin});
    }
    size_t at = 0;
    for (int y = 0; y < bgr_.rows; ++y) {
      const uint8_t* row = bgr_.ptr<uint8_t>(y);
      const uint8_t* mask = MaskRow(y);
      for (int x = 0; x < bgr_.cols; ++x, ++at) {
        const uint8_t* pixel = row + 3 * x;
        const size_t slot = pixelSlots_[at];
        const uint8_t maskByte = mask != nullptr ? mask[x] : uint8_t(kFullWeight);
        if (visibility_.visible[maskByte]) AddPixel(visible_[slot], pixel, visibility_.weight[maskByte]);
        if (countAll) AddPixel(all_[slot], pixel, 1);
      }
    }
  }

  // An exact palette holds every colour that shows; the others (and every
  // colour under a searched palette) go to the entry nearest the mean of
  // their visible pixels, or of all their pixels when none shows. The
  // search has already found that entry for the colours it was given.
  // Colours that never show need none when invisible pixels are unified.
  void ChooseSlotEntries(bool exact, bool unify) {
    slotEntry_.assign(slotBins_.size(), kNoEntry);
    bool missing = false;
    for (size_t slot = 0; slot < slotBins_.size(); ++slot) {
      if (!searchedEntry_.empty() && searchedEntry_[slot] != kNoEntry) {
        slotEntry_[slot] = searchedEntry_[slot];
        continue;
      }
      if (unify && visibleCount_[slot] == 0 && !maskedOut_) continue;
      if (exact) {
        const auto found = std::lower_bound(palette_.begin(), palette_.end(), slotBins_[slot]);
        if (found != palette_.end() && *found == slotBins_[slot]) {
          slotEntry_[slot] = int16_t(found - palette_.begin());
          continue;
        }
      }
      missing = true;
    }
    if (!missing) return;
    GatherMoments();
    for (size_t slot = 0; slot < slotBins_.size(); ++slot) {
      if (slotEntry_[slot] != kNoEntry) continue;
      if (unify && visibleCount_[slot] == 0 && !maskedOut_) continue;
      const Colour colour = visible_[slot].weight > 0 ? MeanOf(visible_[slot])
                            : !all_.empty()           ? MeanOf(all_[slot])
                                                      : detail::ShownColour(slotBins_[slot]);
      slotEntry_[slot] = int16_t(Nearest().Find(colour));
    }
  }

  // The entry that the most visible pixels take: invisible pixels take it
  // too, so that they add no colour.
  int16_t MostVisibleEntry() const {
    std::vector<int64_t> count(palette_.size(), 0);
    for (size_t slot = 0; slot < slotBins_.size(); ++slot) {
      if (slotEntry_[slot] != kNoEntry) count[size_t(slotEntry_[slot])] += visibleCount_[slot];
    }
    return int16_t(std::max_element(count.begin(), count.end()) - count.begin());
  }

  const detail::NearestEntry& Nearest() {
    if (!nearest_) nearest_.emplace(shown_);
    return *nearest_;
  }

  int StoredEntry(const uint8_t* maskRow, int x, size_t at) const {
    if (unified_ != kNoEntry && !Visible(maskRow, x)) return unified_;
    return slotEntry_[pixelSlots_[at]];
  }

  void Put(uint8_t* out, int entry) {
    used_[size_t(entry)] = true;
    const std::array<uint8_t, 3>& bytes = entryBytes_[size_t(entry)];
    out[0] = bytes[0];
    out[1] = bytes[1];
    out[2] = bytes[2];
  }

  // Every pixel takes its colour's entry, or the unified one where it does
  // not show; an entry counts as used when some pixel takes it. Returns the
  // PSNR of the visible pixels, as VisiblePsnr measures it.
  double WriteMapped(cv::Mat& out) {
    const bool unify = unified_ != kNoEntry;
    std::vector<std::array<uint8_t, 3>> slotBytes(slotBins_.size());
    for (size_t slot = 0; slot < slotBins_.size(); ++slot) {
      const int16_t entry = slotEntry_[slot];
      if (entry == kNoEntry) continue;  // its pixels never show and are unified
      slotBytes[slot] = entryBytes_[size_t(entry)];
      if (!unify || visibleCount_[slot] > 0) used_[size_t(entry)] = true;
    }
    if (unify && hasInvisible_) used_[size_t(unified_)] = true;
    const std::array<uint8_t, 3> unifiedBytes = unify ? entryBytes_[size_t(unified_)] : std::array<uint8_t, 3>{};
    size_t at = 0;
    int64_t squares = 0, shown = 0;
    for (int y = 0; y < bgr_.rows; ++y) {
      const uint8_t* source = bgr_.ptr<uint8_t>(y);
      const uint8_t* mask = MaskRow(y);
      uint8_t* target = out.ptr<uint8_t>(y);
      int64_t rowSquares = 0, rowShown = 0;
      for (int x = 0; x < bgr_.cols; ++x, ++at) {
        const bool visible = Visible(mask, x);
        const std::array<uint8_t, 3>& bytes = visible || !unify ? slotBytes[pixelSlots_[at]] : unifiedBytes;
        target[3 * x] = bytes[0];
        target[3 * x + 1] = bytes[1];
        target[3 * x + 2] = bytes[2];
        // Entries hold shown values (n x 16), so the error is against them.
        const int d0 = int(source[3 * x]) - bytes[0], d1 = int(source[3 * x + 1]) - bytes[1],
                  d2 = int(source[3 * x + 2]) - bytes[2];
        rowSquares += int(visible) * (d0 * d0 + d1 * d1 + d2 * d2);
        rowShown += int(visible);
      }
      squares += rowSquares;
      shown += rowShown;
    }
    return Psnr(squares, 3 * shown);
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
        if (entry == kNoEntry) entry = int16_t(Nearest().Find(detail::ShownColour(bin)));
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
  const bool maskUsed_;
  const Visibility visibility_;
  std::array<uint8_t, 256> level_{};
  std::vector<int16_t> slotOf_;       // by bin
  std::vector<uint16_t> pixelSlots_;  // by pixel, rows in order
  // By slot: its stored colour, visible pixels, moments and palette entry.
  std::array<uint64_t, kBins / 64> present_{};  // one bit per bin
  std::vector<uint16_t> slotBins_;
  std::vector<int64_t> visibleCount_;
  std::vector<BinMoments> visible_, all_;
  std::vector<int16_t> slotEntry_;
  std::vector<int16_t> searchedEntry_;  // by slot, when a palette was searched
  bool hasInvisible_ = false;
  bool maskedOut_ = false;  // no pixel shows
  std::vector<uint16_t> palette_;
  std::vector<Colour> shown_;
  std::vector<std::array<uint8_t, 3>> entryBytes_;
  std::optional<detail::NearestEntry> nearest_;
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
  std::array<uint8_t, 256> visible{};
  for (int m = 0; m < 256; ++m) visible[size_t(m)] = AlphaCode(uint8_t(m), alphaValues) > 0 ? 1 : 0;
  // A decoder shows the top four bits of a stored channel: value & 0xF0.
  constexpr int kShownBits = 0xF0;
  int64_t squares = 0, values = 0;
  for (int y = 0; y < sourceBgr.rows; ++y) {
    const uint8_t* source = sourceBgr.ptr<uint8_t>(y);
    const uint8_t* result = resultBgr.ptr<uint8_t>(y);
    if (!maskUsed) {
      const int count = 3 * sourceBgr.cols;
      int64_t row = 0;
      for (int i = 0; i < count; ++i) {
        const int difference = int(source[i]) - (result[i] & kShownBits);
        row += difference * difference;
      }
      squares += row;
      values += count;
      continue;
    }
    const uint8_t* mask = alpha.ptr<uint8_t>(y);
    int64_t row = 0, shown = 0;
    for (int x = 0; x < sourceBgr.cols; ++x) {
      const int d0 = int(source[3 * x]) - (result[3 * x] & kShownBits);
      const int d1 = int(source[3 * x + 1]) - (result[3 * x + 1] & kShownBits);
      const int d2 = int(source[3 * x + 2]) - (result[3 * x + 2] & kShownBits);
      const int counted = visible[mask[x]];
      row += counted * (d0 * d0 + d1 * d1 + d2 * d2);
      shown += counted;
    }
    squares += row;
    values += 3 * shown;
  }
  return Psnr(squares, values);
}

}  // namespace zef::quantize

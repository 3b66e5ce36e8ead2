#include "quantize/ReduceRgba.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <new>

#include "quantize/Clusters.h"

namespace zef::quantize {

namespace {

constexpr int kMostEntries = 256;
constexpr double kFull = 255.0;
constexpr int kChannels = 3;
constexpr int kAxes = 4;  // three colour axes and alpha
// Channel samples a visible pixel adds to the composite measure: three
// channels over black and over white.
constexpr int kSamplesPerPixel = 6;
// A box is cut between buckets of equal width along one axis: fine enough
// to find a good cut, coarse enough that each split is two passes.
constexpr int kBuckets = 16;
// Boxes of at most this many colours are cut exactly instead (most cuts of
// a large palette are of such boxes).
constexpr size_t kSortedCutMost = 16;
// Lloyd passes after the split; the split is close already, and most of
// what k-means gains comes in the first passes. Boxes of fewer colours
// than this on average have none: they gain little, and a palette that
// large costs most to refine.
constexpr int kKMeansPasses = 1;
constexpr int kColoursPerBoxForKMeans = 4;
// When the refined palette misses the target, the split goes on by this
// share of its size at most this many times before the cap's best is taken.
constexpr int kGrowthRounds = 4;
constexpr int kGrowthShare = 4;

// The composite error of a colour pair, both channels of a pixel over
// black and over white, is a squared distance after this linear map of the
// premultiplied colour p (p_c = c a / 255, p_a = a): with d = p' - p, the
// error sum_c d_c^2 + (d_c - d_a)^2 equals sum_c 2 (d_c - d_a / 2)^2 + 1.5 d_a^2.
const double kColourScale = std::sqrt(2.0);
const double kAlphaScale = std::sqrt(1.5);

using Point = std::array<double, kAxes>;

// Blue, green, red, alpha packed as one key; every alpha-0 pixel is key 0.
// Without a branch: soft edges mix alpha 0 and the rest too finely to guess.
uint32_t KeyOf(const uint8_t* bgr, uint8_t alpha) {
  const uint32_t key = uint32_t(bgr[0]) | uint32_t(bgr[1]) << 8 | uint32_t(bgr[2]) << 16 | uint32_t(alpha) << 24;
  return key & (alpha != 0 ? 0xFFFFFFFFu : 0u);
}

RgbaEntry EntryOf(uint32_t key) {
  return RgbaEntry{uint8_t(key >> 16), uint8_t(key >> 8), uint8_t(key), uint8_t(key >> 24)};
}

Point MapColour(const RgbaEntry& entry) {
  const double alpha = entry.alpha;
  const double blue = entry.blue * alpha / kFull, green = entry.green * alpha / kFull,
               red = entry.red * alpha / kFull;
  return {kColourScale * (blue - alpha / 2), kColourScale * (green - alpha / 2),
          kColourScale * (red - alpha / 2), kAlphaScale * alpha};
}

uint8_t Clamped(double value) { return uint8_t(std::clamp(std::lround(value), 0L, 255L)); }

// The 8-bit entry nearest to a point of the mapped space: alpha first, then
// each channel from its premultiplied value.
RgbaEntry UnmapPoint(const Point& point) {
  const double alpha = point[3] / kAlphaScale;
  const uint8_t storedAlpha = Clamped(alpha);
  if (storedAlpha == 0) return RgbaEntry{};
  uint8_t channel[kChannels];
  for (int c = 0; c < kChannels; ++c) {
    const double premultiplied = point[size_t(c)] / kColourScale + alpha / 2;
    channel[c] = Clamped(premultiplied * kFull / storedAlpha);
  }
  return RgbaEntry{channel[2], channel[1], channel[0], storedAlpha};
}

// What CompositeErrorOf adds for one visible pixel (it sums in whole numbers).
double CompositeSquares(const RgbaEntry& source, const RgbaEntry& shown) {
  const double alphaGap = double(shown.alpha) - double(source.alpha);
  const int from[kChannels] = {source.blue, source.green, source.red};
  const int to[kChannels] = {shown.blue, shown.green, shown.red};
  double squares = 0;
  for (int c = 0; c < kChannels; ++c) {
    const double overBlack = (double(to[c]) * shown.alpha - double(from[c]) * source.alpha) / kFull;
    const double overWhite = overBlack - alphaGap;
    squares += overBlack * overBlack + overWhite * overWhite;
  }
  return squares;
}

// The source's distinct colours in order of first appearance, and each
// pixel's colour.
struct Colours {
  std::vector<uint32_t> keys;
  std::vector<int64_t> counts;
  std::vector<uint32_t> pixelColour;
  int transparent = -1;  // the colour of alpha-0 pixels, if any
};

Colours CountColours(const cv::Mat& bgr, const cv::Mat& alpha) {
  Colours colours;
  colours.pixelColour.resize(size_t(bgr.rows) * size_t(bgr.cols));
  // Open addressing, a colour's key beside its number; the table doubles
  // before it is half full. Every pixel is looked up: colours change too
  // often within a row (gradients, soft edges) for a guess to pay.
  struct Slot {
    uint32_t key;
    int32_t colour;  // -1: empty
  };
  std::vector<Slot> slots(1024, Slot{0, -1});
  uint32_t slotMask = uint32_t(slots.size() - 1);
  int shift = 32 - std::countr_zero(slots.size());
  const auto grow = [&]() {
    slots.assign(slots.size() * 2, Slot{0, -1});
    slotMask = uint32_t(slots.size() - 1);
    shift -= 1;
    for (size_t colour = 0; colour < colours.keys.size(); ++colour) {
      uint32_t slot = (colours.keys[colour] * 0x9E3779B1u) >> shift;
      while (slots[slot].colour >= 0) slot = (slot + 1) & slotMask;
      slots[slot] = {colours.keys[colour], int32_t(colour)};
    }
  };
  uint32_t* pixelColour = colours.pixelColour.data();
  for (int y = 0; y < bgr.rows; ++y) {
    const uint8_t* row = bgr.ptr<uint8_t>(y);
    const uint8_t* mask = alpha.empty() ? nullptr : alpha.ptr<uint8_t>(y);
    for (int x = 0; x < bgr.cols; ++x) {
      const uint32_t key = KeyOf(row + 3 * x, mask == nullptr ? 255 : mask[x]);
      const Slot* table = slots.data();
      uint32_t slot = (key * 0x9E3779B1u) >> shift;
      while (table[slot].colour >= 0 && table[slot].key != key) slot = (slot + 1) & slotMask;
      int32_t colour = table[slot].colour;
      if (colour < 0) {
        colour = int32_t(colours.keys.size());
        colours.keys.push_back(key);
        if (key == 0) colours.transparent = colour;
        slots[slot] = {key, colour};
        if (colours.keys.size() * 2 > slots.size()) grow();
      }
      *pixelColour++ = uint32_t(colour);
    }
  }
  colours.counts.assign(colours.keys.size(), 0);
  for (const uint32_t colour : colours.pixelColour) ++colours.counts[colour];
  return colours;
}

struct Moments {
  double weight = 0;
  Point sum{};
  Point squares{};  // per axis, so that a box's widest axis needs no pass over its points

  void Add(const Moments& other, double sign) {
    weight += sign * other.weight;
    for (int a = 0; a < kAxes; ++a) {
      sum[size_t(a)] += sign * other.sum[size_t(a)];
      squares[size_t(a)] += sign * other.squares[size_t(a)];
    }
  }
  void AddPoint(const Point& point, double pointWeight) {
    weight += pointWeight;
    for (int a = 0; a < kAxes; ++a) {
      sum[size_t(a)] += pointWeight * point[size_t(a)];
      squares[size_t(a)] += pointWeight * point[size_t(a)] * point[size_t(a)];
    }
  }
  double Squares() const { return squares[0] + squares[1] + squares[2] + squares[3]; }
  // Weighted spread about the mean along one axis.
  double Spread(int axis) const {
    if (weight <= 0) return 0;
    return squares[size_t(axis)] - sum[size_t(axis)] * sum[size_t(axis)] / weight;
  }
  double Explained() const {
    if (weight <= 0) return 0;
    double total = 0;
    for (double s : sum) total += s * s;
    return total / weight;
  }
  // Explained() of these moments less `part`.
  double ExplainedWithout(const Moments& part) const {
    const double rest = weight - part.weight;
    if (rest <= 0) return 0;
    double total = 0;
    for (int a = 0; a < kAxes; ++a) {
      const double s = sum[size_t(a)] - part.sum[size_t(a)];
      total += s * s;
    }
    return total / rest;
  }
  Point Mean() const {
    Point mean{};
    for (int a = 0; a < kAxes; ++a) mean[size_t(a)] = sum[size_t(a)] / weight;
    return mean;
  }
};

// The visible colours as weighted points of the mapped space.
struct Points {
  std::vector<Point> at;
  std::vector<detail::Clusters<kAxes>::Coordinates> coordinates;  // `at` for the nearest-centre search
  std::vector<double> weight;
  std::vector<RgbaEntry> colour;
  std::vector<Moments> moments;  // of each point alone, weighted
};

struct Box {
  size_t begin = 0, end = 0;
  Moments moments;
  // Per axis, the box's least and greatest point: kept as boxes are made,
  // so that a cut needs no pass to find its axis's range.
  Point lowest{}, highest{};
  double variance = 0;  // the composite error of the box's pixels about its mean
  bool splittable = false;
};

void Settle(Box& box) {
  box.splittable = box.end - box.begin > 1;
  // One colour has no error; the difference of its sums need not be 0.
  box.variance = box.splittable ? std::max(0.0, box.moments.Squares() - box.moments.Explained()) : 0;
}

// A hierarchy of boxes: the box of largest error is cut in two, where the
// halves explain the most, until the error is small enough. Each cut is
// kept, so that the boxes of any smaller count can be had again.
class Split {
 public:
  explicit Split(const Points& points) : points_(points), order_(points.at.size()) {
    // Room for every cut a palette can take, so that cutting never moves them.
    boxes_.reserve(kMostEntries);
    parents_.reserve(kMostEntries);
    error_.reserve(kMostEntries);
    queue_.reserve(2 * kMostEntries);
    spare_.reserve(order_.size());
    bucketOf_.reserve(order_.size());
    for (size_t p = 0; p < order_.size(); ++p) order_[p] = uint32_t(p);
    Box whole;
    whole.end = order_.size();
    whole.lowest.fill(INFINITY);
    whole.highest.fill(-INFINITY);
    for (size_t p = 0; p < order_.size(); ++p) {
      whole.moments.Add(points.moments[p], 1);
      Widen(whole, points.at[p]);
    }
    Settle(whole);
    boxes_.push_back(whole);
    error_.push_back(whole.variance);
    Queue(0);
  }

  int Count() const { return int(boxes_.size()); }
  // The summed error of the boxes when there were `count` of them.
  double ErrorAt(int count) const { return error_[size_t(count - 1)]; }
  bool Exhausted() const {
    return std::none_of(boxes_.begin(), boxes_.end(), [](const Box& box) { return box.splittable; });
  }

  // Cuts until the error is at most `budget` or there are `count` boxes.
  void Grow(double budget, int count) {
    while (Count() < count && error_.back() > budget) {
      const size_t next = Largest();
      if (next == boxes_.size()) break;
      const double before = boxes_[next].variance;
      Box upper;
      if (!Cut(boxes_[next], upper)) {
        boxes_[next].splittable = false;
        continue;
      }
      boxes_.push_back(upper);
      parents_.push_back(next);
      Queue(next);
      Queue(boxes_.size() - 1);
      // Kept as it goes rather than summed over every box at each cut.
      error_.push_back(std::max(0.0, error_.back() - before + boxes_[next].variance + upper.variance));
    }
  }

  // Each point's box when there were `count` of them.
  std::vector<int> BoxOfPoints(int count) const {
    std::vector<int> ancestor(boxes_.size());
    for (size_t b = 0; b < boxes_.size(); ++b) {
      ancestor[b] = b < size_t(count) ? int(b) : ancestor[parents_[b - 1]];
    }
    std::vector<int> boxOf(order_.size());
    for (size_t b = 0; b < boxes_.size(); ++b) {
      for (size_t i = boxes_[b].begin; i < boxes_[b].end; ++i) boxOf[order_[i]] = ancestor[b];
    }
    return boxOf;
  }

  // Mean points of the boxes when there were `count` of them: later cuts
  // are undone, last first.
  std::vector<Point> CentresAt(int count) const {
    std::vector<Moments> moments;
    moments.reserve(boxes_.size());
    for (const Box& box : boxes_) moments.push_back(box.moments);
    for (size_t child = boxes_.size() - 1; child >= size_t(count); --child) {
      moments[parents_[child - 1]].Add(moments[child], 1);
    }
    std::vector<Point> centres;
    centres.reserve(size_t(count));
    for (int b = 0; b < count; ++b) centres.push_back(moments[size_t(b)].Mean());
    return centres;
  }

 private:
  // The boxes that may be cut, as a heap whose top is the box of largest
  // error, the first of equals. A box's entry goes stale when it is cut
  // (it comes back with its new error), and is dropped when it surfaces.
  struct Queued {
    double variance;
    size_t box;
    bool operator<(const Queued& other) const {
      return variance < other.variance || (variance == other.variance && box > other.box);
    }
  };

  void Queue(size_t box) {
    if (!boxes_[box].splittable || !(boxes_[box].variance > 0)) return;
    queue_.push_back({boxes_[box].variance, box});
    std::push_heap(queue_.begin(), queue_.end());
  }

  // The splittable box of largest error, or boxes_.size() when none has any.
  size_t Largest() {
    while (!queue_.empty()) {
      std::pop_heap(queue_.begin(), queue_.end());
      const Queued top = queue_.back();
      queue_.pop_back();
      const Box& box = boxes_[top.box];
      if (box.splittable && box.variance == top.variance) return top.box;
    }
    return boxes_.size();
  }

  static void Widen(Box& box, const Point& point) {
    for (int a = 0; a < kAxes; ++a) {
      box.lowest[size_t(a)] = std::min(box.lowest[size_t(a)], point[size_t(a)]);
      box.highest[size_t(a)] = std::max(box.highest[size_t(a)], point[size_t(a)]);
    }
  }

  static int Bucket(double value, double lowest, double scale) {
    return std::min(kBuckets - 1, int((value - lowest) * scale));
  }

  // The axis along which the box's points spread the most (weighted
  // variance): the one cut tried, as the others seldom explain more.
  static int WidestAxis(const Box& box) {
    int widest = 0;
    for (int a = 1; a < kAxes; ++a) {
      if (box.moments.Spread(a) > box.moments.Spread(widest)) widest = a;
    }
    return widest;
  }

  // Cuts the box in two along its widest axis where the halves explain
  // the most; false when no cut leaves weight on both sides.
  bool Cut(Box& box, Box& upper) {
    const int axis = WidestAxis(box);
    if (box.end - box.begin <= kSortedCutMost) return CutSorted(box, upper, axis);
    const double lowest = box.lowest[size_t(axis)], highest = box.highest[size_t(axis)];
    const double scale = highest > lowest ? kBuckets / (highest - lowest) : 0;
    Moments buckets[kBuckets];
    // Each point's bucket is kept for the partition.
    bucketOf_.resize(box.end - box.begin);
    for (size_t i = box.begin; i < box.end; ++i) {
      const uint32_t p = order_[i];
      const int bucket = Bucket(points_.at[p][size_t(axis)], lowest, scale);
      bucketOf_[i - box.begin] = uint8_t(bucket);
      buckets[bucket].Add(points_.moments[p], 1);
    }
    double best = -1;
    int bestCut = -1;
    Moments bestLow, low;
    for (int cut = 0; cut + 1 < kBuckets; ++cut) {
      // An empty bucket scores as the cut before it, which came first.
      if (buckets[cut].weight <= 0) continue;
      low.Add(buckets[cut], 1);
      if (box.moments.weight - low.weight < 0.5) break;  // no pixel above the cut (weights are pixel counts)
      const double score = low.Explained() + box.moments.ExplainedWithout(low);
      if (score > best) {
        best = score;
        bestCut = cut;
        bestLow = low;
      }
    }
    if (bestCut < 0) return false;
    return Partition(box, upper, bestLow, [&](size_t i, uint32_t) { return bucketOf_[i - box.begin] <= bestCut; });
  }

  // A box of few points is cut exactly: its points sorted along the axis,
  // every cut between two different values tried.
  bool CutSorted(Box& box, Box& upper, int axis) {
    const size_t size = box.end - box.begin;
    struct Placed {
      double value;
      uint32_t point;
    };
    Placed sorted[kSortedCutMost];
    // An insertion sort (the boxes are small): equal values keep the box's
    // order.
    for (size_t i = 0; i < size; ++i) {
      const uint32_t p = order_[box.begin + i];
      const double value = points_.at[p][size_t(axis)];
      size_t at = i;
      for (; at > 0 && value < sorted[at - 1].value; --at) sorted[at] = sorted[at - 1];
      sorted[at] = {value, p};
    }
    double best = -1;
    double bestValue = 0;
    Moments bestLow, low;
    for (size_t i = 0; i + 1 < size; ++i) {
      low.Add(points_.moments[sorted[i].point], 1);
      const double value = sorted[i].value;
      if (!(value < sorted[i + 1].value)) continue;
      const double score = low.Explained() + box.moments.ExplainedWithout(low);
      if (score > best) {
        best = score;
        bestValue = value;
        bestLow = low;
      }
    }
    if (best < 0) return false;
    return Partition(box, upper, bestLow,
                     [&](size_t, uint32_t p) { return points_.at[p][size_t(axis)] <= bestValue; });
  }

  // A stable partition: the points `isLow` takes (given their place in
  // the box and their number) in place, the others after them as the upper box.
  template <class IsLow>
  bool Partition(Box& box, Box& upper, const Moments& lowMoments, IsLow isLow) {
    spare_.clear();
    Box lowRange;
    lowRange.lowest.fill(INFINITY);
    lowRange.highest.fill(-INFINITY);
    upper.lowest = lowRange.lowest;
    upper.highest = lowRange.highest;
    size_t lowEnd = box.begin;
    for (size_t i = box.begin; i < box.end; ++i) {
      const uint32_t p = order_[i];
      if (isLow(i, p)) {
        order_[lowEnd++] = p;
        Widen(lowRange, points_.at[p]);
      } else {
        spare_.push_back(p);
        Widen(upper, points_.at[p]);
      }
    }
    const size_t low = lowEnd;
    box.lowest = lowRange.lowest;
    box.highest = lowRange.highest;
    std::copy(spare_.begin(), spare_.end(), order_.begin() + std::ptrdiff_t(low));
    upper.begin = low;
    upper.end = box.end;
    upper.moments = box.moments;
    upper.moments.Add(lowMoments, -1);
    box.end = low;
    box.moments = lowMoments;
    Settle(box);
    Settle(upper);
    return true;
  }

  const Points& points_;
  std::vector<uint32_t> order_, spare_;
  std::vector<uint8_t> bucketOf_;  // of the points of the box being cut, in its order
  std::vector<Box> boxes_;
  std::vector<size_t> parents_;  // of the box each cut made (box n + 1 came from cut n)
  std::vector<double> error_;    // after 0, 1, 2 ... cuts
  std::vector<Queued> queue_;
};

// A palette for the points and each point's entry, with its exact error.
struct Refined {
  std::vector<RgbaEntry> entries;  // the transparent one first when there is one
  std::vector<int> entryOfPoint;
  double squares = 0;
};

using Clusters = detail::Clusters<kAxes>;

Clusters::Coordinates CoordinatesOf(const Point& point) {
  return {float(point[0]), float(point[1]), float(point[2]), float(point[3])};
}

// Lloyd passes from the boxes of a split (the transparent centre, when
// there is one, stays where it is), then entries rounded to 8 bits and
// every point on its nearest entry.
Refined Refine(const Points& points, std::vector<Point> centres, const std::vector<int>& boxOfPoint,
               bool withTransparent, int passes) {
  const size_t fixed = withTransparent ? 1 : 0;
  if (withTransparent) centres.insert(centres.begin(), Point{});
  std::vector<Clusters::Coordinates> at(centres.size());
  for (size_t k = 0; k < centres.size(); ++k) at[k] = CoordinatesOf(centres[k]);
  std::vector<int> seed(boxOfPoint.size());
  for (size_t p = 0; p < seed.size(); ++p) seed[p] = boxOfPoint[p] + int(fixed);
  Clusters clusters(points.coordinates);
  clusters.Seed(at, seed);
  std::vector<float> moved(centres.size());
  std::vector<Moments> totals(centres.size());
  for (int pass = 0; pass < passes; ++pass) {
    if (!clusters.Assign(at, false) && pass > 0) break;
    std::fill(totals.begin(), totals.end(), Moments{});
    const std::vector<int>& cluster = clusters.Entries();
    for (size_t p = 0; p < points.at.size(); ++p) {
      totals[size_t(cluster[p])].Add(points.moments[p], 1);
    }
    std::fill(moved.begin(), moved.end(), 0.0f);
    for (size_t k = fixed; k < centres.size(); ++k) {
      if (totals[k].weight <= 0) continue;
      centres[k] = totals[k].Mean();
      const Clusters::Coordinates next = CoordinatesOf(centres[k]);
      moved[k] = Clusters::Distance(at[k], next);
      at[k] = next;
    }
    clusters.Moved(moved, nullptr);
  }
  Refined refined;
  std::vector<Clusters::Coordinates> shown;
  shown.reserve(centres.size());
  refined.entries.reserve(centres.size());
  // Rounding can make two centres one entry, and a faint one transparent:
  // each takes the number of the first centre with its entry.
  std::vector<RgbaEntry> rounded(centres.size());
  std::vector<std::pair<uint32_t, uint32_t>> byKey(centres.size());  // entry, centre
  for (size_t k = 0; k < centres.size(); ++k) {
    rounded[k] = UnmapPoint(centres[k]);
    const RgbaEntry& entry = rounded[k];
    byKey[k] = {uint32_t(entry.red) << 24 | uint32_t(entry.green) << 16 | uint32_t(entry.blue) << 8 | entry.alpha,
                uint32_t(k)};
  }
  std::sort(byKey.begin(), byKey.end());
  std::vector<uint32_t> firstWithEntry(centres.size());
  for (size_t i = 0; i < byKey.size(); ++i) {
    firstWithEntry[byKey[i].second] = i > 0 && byKey[i].first == byKey[i - 1].first
                                          ? firstWithEntry[byKey[i - 1].second]
                                          : byKey[i].second;
  }
  std::vector<int> renumber(centres.size());
  for (size_t k = 0; k < centres.size(); ++k) {
    if (firstWithEntry[k] == k) {
      renumber[k] = int(refined.entries.size());
      refined.entries.push_back(rounded[k]);
      shown.push_back(CoordinatesOf(MapColour(rounded[k])));
    } else {
      renumber[k] = renumber[firstWithEntry[k]];
    }
    moved[k] = Clusters::Distance(at[k], shown[size_t(renumber[k])]);
  }
  clusters.Moved(moved, &renumber);
  clusters.Assign(shown, false);
  refined.entryOfPoint = clusters.Entries();
  for (size_t p = 0; p < points.at.size(); ++p) {
    const int entry = refined.entryOfPoint[p];
    refined.squares += points.weight[p] * CompositeSquares(points.colour[p], refined.entries[size_t(entry)]);
  }
  return refined;
}

// Each point its own colour.
Refined Exact(const Points& points, bool withTransparent) {
  Refined refined;
  refined.entries.reserve(points.colour.size() + 1);
  refined.entryOfPoint.reserve(points.colour.size());
  if (withTransparent) refined.entries.push_back(RgbaEntry{});
  for (size_t p = 0; p < points.colour.size(); ++p) {
    refined.entryOfPoint.push_back(int(refined.entries.size()));
    refined.entries.push_back(points.colour[p]);
  }
  return refined;
}

// The smallest palette found whose error is within the budget, or the best
// of `capacity` visible entries.
Refined Choose(const Points& points, bool withTransparent, int capacity, double budget) {
  const int distinct = int(points.at.size());
  if (distinct <= capacity && budget <= 0) return Exact(points, withTransparent);
  Split split(points);
  split.Grow(budget, capacity);
  const auto refineAt = [&](int count) {
    if (count == distinct) return Exact(points, withTransparent);
    // Boxes of a few colours each are near their best already.
    const int passes = distinct >= kColoursPerBoxForKMeans * count ? kKMeansPasses : 0;
    return Refine(points, split.CentresAt(count), split.BoxOfPoints(count), withTransparent, passes);
  };
  int count = split.Count();
  Refined chosen = refineAt(count);
  // Rounding to 8 bits can miss a budget the split met: more boxes.
  for (int round = 0; round < kGrowthRounds && chosen.squares > budget && count < capacity &&
                      !split.Exhausted();
       ++round) {
    split.Grow(0, std::min(capacity, count + std::max(1, count / kGrowthShare)));
    if (split.Count() == count) break;
    count = split.Count();
    chosen = refineAt(count);
  }
  if (chosen.squares > budget || count == 1) return chosen;
  // k-means met the budget with room to spare, as it usually does: assume
  // it gains as much on fewer boxes, and try the fewest that would then do.
  const double gain = split.ErrorAt(count) > 0 ? chosen.squares / split.ErrorAt(count) : 1;
  int fewer = count;
  while (fewer > 1 && split.ErrorAt(fewer - 1) * gain <= budget) --fewer;
  if (fewer < count) {
    Refined smaller = refineAt(fewer);
    if (smaller.squares <= budget) return smaller;
  }
  return chosen;
}

bool ValidInput(const cv::Mat& bgr, const cv::Mat& alpha, const RgbaOptions& options) {
  if (bgr.dims > 2 || bgr.type() != CV_8UC3) return false;
  if (!alpha.empty() && (alpha.dims > 2 || alpha.type() != CV_8UC1 || alpha.size() != bgr.size())) {
    return false;
  }
  if (options.maxColors < 1 || options.maxColors > kMostEntries) return false;
  return !std::isnan(options.quality) && options.quality >= 0;
}

}  // namespace

std::optional<RgbaResult> ReduceRgba(const cv::Mat& bgr, const cv::Mat& alpha,
                                     const RgbaOptions& options) {
  if (!ValidInput(bgr, alpha, options)) return std::nullopt;
  try {
    const Colours colours = CountColours(bgr, alpha);
    const bool withTransparent = colours.transparent >= 0;
    Points points;
    std::vector<int> pointOfColour(colours.keys.size(), -1);
    int64_t visiblePixels = 0;
    const size_t colourCount = colours.keys.size();
    points.colour.reserve(colourCount);
    points.at.reserve(colourCount);
    points.coordinates.reserve(colourCount);
    points.moments.reserve(colourCount);
    points.weight.reserve(colourCount);
    for (size_t colour = 0; colour < colours.keys.size(); ++colour) {
      if (int(colour) == colours.transparent) continue;
      pointOfColour[colour] = int(points.at.size());
      const RgbaEntry entry = EntryOf(colours.keys[colour]);
      points.colour.push_back(entry);
      points.at.push_back(MapColour(entry));
      points.coordinates.push_back(CoordinatesOf(points.at.back()));
      points.moments.emplace_back().AddPoint(points.at.back(), double(colours.counts[colour]));
      points.weight.push_back(double(colours.counts[colour]));
      visiblePixels += colours.counts[colour];
    }
    const uint64_t samples = uint64_t(visiblePixels) * kSamplesPerPixel;
    // The most squared error the quality allows: PSNR = 10 log10(255^2 / mean).
    const double budget =
        std::isinf(options.quality) ? 0 : double(samples) * kFull * kFull / std::pow(10.0, options.quality / 10);
    const int capacity = options.maxColors - (withTransparent ? 1 : 0);

    Refined refined;
    if (points.at.empty() || capacity <= 0) {
      // Nothing visible, or room only for the transparent entry, which
      // transparent pixels always take.
      refined.entries.push_back(RgbaEntry{});
      refined.entryOfPoint.assign(points.at.size(), 0);
      for (size_t p = 0; p < points.at.size(); ++p) {
        refined.squares += points.weight[p] * CompositeSquares(points.colour[p], RgbaEntry{});
      }
    } else {
      refined = Choose(points, withTransparent, capacity, budget);
    }

    // Only entries that some pixel takes, in the order of the refined list.
    std::vector<int> used(refined.entries.size(), -1);
    RgbaResult result;
    result.width = bgr.cols;
    result.height = bgr.rows;
    result.colorsBefore = int(colours.keys.size());
    const auto take = [&](int entry) {
      if (used[size_t(entry)] < 0) {
        used[size_t(entry)] = int(result.palette.size());
        result.palette.push_back(refined.entries[size_t(entry)]);
      }
      return uint8_t(used[size_t(entry)]);
    };
    std::vector<uint8_t> indexOfColour(colours.keys.size());
    for (size_t colour = 0; colour < colours.keys.size(); ++colour) {
      const int point = pointOfColour[colour];
      indexOfColour[colour] = take(point < 0 ? 0 : refined.entryOfPoint[size_t(point)]);
    }
    result.indices.resize(colours.pixelColour.size());
    for (size_t at = 0; at < colours.pixelColour.size(); ++at) {
      result.indices[at] = indexOfColour[colours.pixelColour[at]];
    }
    result.error.squaredError = refined.squares;
    result.error.samples = samples;
    result.reduced = refined.squares > 0;
    return result;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

}  // namespace zef::quantize

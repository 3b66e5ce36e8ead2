#include "quantize/PaletteSearch.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace zef::quantize::detail {

namespace {

constexpr int kKMeansPasses = 6;
constexpr int kSnappedPasses = 3;
constexpr float kLevelStep = 16.0f;

struct Moments {
  double weight = 0, sum[3] = {0, 0, 0}, squares = 0;

  void Add(const Moments& other, double sign) {
    weight += sign * other.weight;
    for (int c = 0; c < 3; ++c) sum[c] += sign * other.sum[c];
    squares += sign * other.squares;
  }
  // Sum of squared channel sums over the weight: the part of the error
  // that grouping these pixels under their mean removes.
  double Explained() const {
    if (weight <= 0) return 0;
    return (sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2]) / weight;
  }
  double Variance() const { return squares - Explained(); }
};

Colour MeanOf(const Moments& moments) {
  Colour mean{};
  for (int c = 0; c < 3; ++c) mean.channel[c] = float(moments.sum[c] / moments.weight);
  return mean;
}

// The weighted bins as points: their stored colours, mean colours,
// weights and moments.
struct Points {
  std::vector<uint16_t> bin;
  std::vector<Colour> mean;
  std::vector<double> weight;
  std::vector<std::array<double, 3>> sum;
  std::vector<Moments> moments;
};

// A box of the cube: its points, as a range of the split order, and their
// moments.
struct Box {
  size_t begin = 0, end = 0;
  Moments moments;
  double variance = 0;
  bool splittable = true;
};

// Splits the box at the level along one axis where the two halves explain
// the most; false when no cut leaves weight on both sides.
bool SplitBox(const Points& points, std::vector<size_t>& order, Box& box, Box& upper) {
  Moments buckets[3][kLevels];
  for (size_t i = box.begin; i < box.end; ++i) {
    const size_t p = order[i];
    for (int axis = 0; axis < 3; ++axis) buckets[axis][LevelIn(points.bin[p], axis)].Add(points.moments[p], 1);
  }
  double best = -1;
  int bestAxis = -1, bestCut = 0;
  Moments bestLow;
  for (int axis = 0; axis < 3; ++axis) {
    Moments low;
    for (int cut = 0; cut + 1 < kLevels; ++cut) {
      low.Add(buckets[axis][cut], 1);
      if (low.weight <= 0) continue;
      Moments high = box.moments;
      high.Add(low, -1);
      if (high.weight <= 0) break;
      const double score = low.Explained() + high.Explained();
      if (score > best) {
        best = score;
        bestAxis = axis;
        bestCut = cut;
        bestLow = low;
      }
    }
  }
  if (bestAxis < 0) return false;
  const auto middle = std::stable_partition(
      order.begin() + std::ptrdiff_t(box.begin), order.begin() + std::ptrdiff_t(box.end),
      [&](size_t p) { return LevelIn(points.bin[p], bestAxis) <= bestCut; });
  upper.begin = size_t(middle - order.begin());
  upper.end = box.end;
  upper.moments = box.moments;
  upper.moments.Add(bestLow, -1);
  box.end = upper.begin;
  box.moments = bestLow;
  for (Box* half : {&box, &upper}) {
    half->variance = half->moments.Variance();
    half->splittable = half->end - half->begin > 1;
  }
  return true;
}

// Boxes that together hold every point, at most `count` of them, splitting
// the box of largest variance first (the first of equals).
std::vector<Box> SplitCube(const Points& points, int count) {
  std::vector<size_t> order(points.bin.size());
  for (size_t p = 0; p < order.size(); ++p) order[p] = p;
  Box whole;
  whole.end = order.size();
  for (const Moments& moments : points.moments) whole.moments.Add(moments, 1);
  whole.variance = whole.moments.Variance();
  whole.splittable = order.size() > 1;
  std::vector<Box> boxes{whole};
  while (int(boxes.size()) < count) {
    int next = -1;
    for (size_t i = 0; i < boxes.size(); ++i) {
      if (boxes[i].splittable && (next < 0 || boxes[i].variance > boxes[size_t(next)].variance)) next = int(i);
    }
    if (next < 0 || boxes[size_t(next)].variance <= 0) break;
    Box upper;
    if (!SplitBox(points, order, boxes[size_t(next)], upper)) {
      boxes[size_t(next)].splittable = false;
      continue;
    }
    boxes.push_back(upper);
  }
  return boxes;
}

int SnapLevel(float value) {
  const int level = int(std::lround(value / kLevelStep));
  return std::clamp(level, 0, kLevels - 1);
}

int SnappedBin(const Colour& colour) {
  return BinOf(SnapLevel(colour.channel[0]), SnapLevel(colour.channel[1]), SnapLevel(colour.channel[2]));
}

// Assigns every point to its nearest centre; true when any assignment changed.
bool Assign(const Points& points, const std::vector<Colour>& centres, std::vector<int>& cluster) {
  const NearestEntry nearest(centres);
  bool changed = false;
  for (size_t p = 0; p < points.mean.size(); ++p) {
    const int found = nearest.Find(points.mean[p]);
    if (found != cluster[p]) {
      cluster[p] = found;
      changed = true;
    }
  }
  return changed;
}

// New centres: the weighted mean of each cluster; an emptied cluster keeps
// its centre.
void MoveCentres(const Points& points, const std::vector<int>& cluster, std::vector<Colour>& centres) {
  std::vector<Moments> totals(centres.size());
  for (size_t p = 0; p < points.mean.size(); ++p) {
    Moments& total = totals[size_t(cluster[p])];
    total.weight += points.weight[p];
    for (int c = 0; c < 3; ++c) total.sum[c] += points.sum[p][size_t(c)];
  }
  for (size_t k = 0; k < centres.size(); ++k) {
    if (totals[k].weight > 0) centres[k] = MeanOf(totals[k]);
  }
}

std::vector<uint16_t> SortedUnique(std::vector<uint16_t> bins) {
  std::sort(bins.begin(), bins.end());
  bins.erase(std::unique(bins.begin(), bins.end()), bins.end());
  return bins;
}

}  // namespace

NearestEntry::NearestEntry(const std::vector<Colour>& entries) {
  // Sorted by the middle channel, so that a search can stop once that
  // channel alone is farther than the best entry found.
  std::vector<int> order(entries.size());
  for (size_t k = 0; k < order.size(); ++k) order[k] = int(k);
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return entries[size_t(a)].channel[1] < entries[size_t(b)].channel[1]; });
  for (int k : order) {
    c0_.push_back(entries[size_t(k)].channel[0]);
    c1_.push_back(entries[size_t(k)].channel[1]);
    c2_.push_back(entries[size_t(k)].channel[2]);
    index_.push_back(k);
  }
}

int NearestEntry::Find(const Colour& colour) const {
  const std::ptrdiff_t count = std::ptrdiff_t(c1_.size());
  float bestDistance = INFINITY;
  int best = count > 0 ? index_[0] : 0;
  const auto consider = [&](std::ptrdiff_t k) {
    const float d0 = c0_[size_t(k)] - colour.channel[0], d1 = c1_[size_t(k)] - colour.channel[1],
                d2 = c2_[size_t(k)] - colour.channel[2];
    const float distance = d0 * d0 + d1 * d1 + d2 * d2;
    if (distance < bestDistance || (distance == bestDistance && index_[size_t(k)] < best)) {
      bestDistance = distance;
      best = index_[size_t(k)];
    }
  };
  std::ptrdiff_t up = std::lower_bound(c1_.begin(), c1_.end(), colour.channel[1]) - c1_.begin();
  std::ptrdiff_t down = up - 1;
  // Entries whose middle channel alone differs by more than the best
  // distance cannot be nearer; equal ones may win on their index.
  while (up < count || down >= 0) {
    if (up < count) {
      const float gap = c1_[size_t(up)] - colour.channel[1];
      if (gap * gap > bestDistance) {
        up = count;
      } else {
        consider(up++);
      }
    }
    if (down >= 0) {
      const float gap = colour.channel[1] - c1_[size_t(down)];
      if (gap * gap > bestDistance) {
        down = -1;
      } else {
        consider(down--);
      }
    }
  }
  return best;
}

Colour ShownColour(int bin) {
  return Colour{{float(LevelIn(bin, 0)) * kLevelStep, float(LevelIn(bin, 1)) * kLevelStep,
                 float(LevelIn(bin, 2)) * kLevelStep}};
}

std::vector<uint16_t> SearchPalette(const std::vector<BinMoments>& histogram, int maxColors) {
  // Points in the order of their colours, so that sums over them do not
  // depend on where a colour first appears.
  std::vector<const BinMoments*> sorted;
  for (const BinMoments& moments : histogram) {
    if (moments.weight > 0) sorted.push_back(&moments);
  }
  std::sort(sorted.begin(), sorted.end(),
            [](const BinMoments* a, const BinMoments* b) { return a->bin < b->bin; });
  Points points;
  std::vector<uint16_t> occupied;
  for (const BinMoments* entry : sorted) {
    const BinMoments& moments = *entry;
    occupied.push_back(moments.bin);
    const double weight = double(moments.weight);
    points.bin.push_back(moments.bin);
    Moments pointMoments;
    pointMoments.weight = weight;
    for (int c = 0; c < 3; ++c) pointMoments.sum[c] = double(moments.sum[size_t(c)]);
    pointMoments.squares = double(moments.squares);
    points.moments.push_back(pointMoments);
    points.weight.push_back(weight);
    points.sum.push_back({double(moments.sum[0]), double(moments.sum[1]), double(moments.sum[2])});
    points.mean.push_back(Colour{{float(double(moments.sum[0]) / weight), float(double(moments.sum[1]) / weight),
                                  float(double(moments.sum[2]) / weight)}});
  }
  if (occupied.empty() || maxColors <= 0) return {};
  if (int(occupied.size()) <= maxColors) return occupied;

  std::vector<Colour> centres;
  for (const Box& box : SplitCube(points, maxColors)) centres.push_back(MeanOf(box.moments));

  // Refine in continuous colour, then on the stored levels: snapping moves
  // a centre by up to half a level, which can change what is nearest.
  std::vector<int> cluster(points.mean.size(), -1);
  for (int pass = 0; pass < kKMeansPasses; ++pass) {
    if (!Assign(points, centres, cluster)) break;
    MoveCentres(points, cluster, centres);
  }
  std::vector<uint16_t> palette;
  for (int pass = 0; pass < kSnappedPasses; ++pass) {
    std::vector<uint16_t> snapped;
    for (const Colour& centre : centres) snapped.push_back(uint16_t(SnappedBin(centre)));
    snapped = SortedUnique(std::move(snapped));
    if (snapped == palette) break;
    palette = std::move(snapped);
    centres.clear();
    for (uint16_t bin : palette) centres.push_back(ShownColour(bin));
    std::fill(cluster.begin(), cluster.end(), -1);
    Assign(points, centres, cluster);
    MoveCentres(points, cluster, centres);
  }
  return palette;
}

}  // namespace zef::quantize::detail

#include "quantize/PaletteSearch.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cmath>
#include <cstddef>

#include "quantize/Clusters.h"

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

float Distance(const Colour& a, const Colour& b) {
  const float d0 = a.channel[0] - b.channel[0], d1 = a.channel[1] - b.channel[1],
              d2 = a.channel[2] - b.channel[2];
  return std::sqrt(d0 * d0 + d1 * d1 + d2 * d2);
}

// The weighted bins as points: their stored colours, moments and mean
// colours.
struct Points {
  std::vector<uint16_t> bin;
  std::vector<Moments> moments;
  std::vector<Colour> mean;
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
// the most; false when no cut leaves weight on both sides. `spare` is room
// for the upper half while the order is partitioned in place.
bool SplitBox(const Points& points, std::vector<uint32_t>& order, std::vector<uint32_t>& spare,
              Box& box, Box& upper) {
  Moments buckets[3][kLevels];
  // Cuts are tried only between the box's lowest and highest level on each
  // axis: small boxes span few levels.
  int lowest[3] = {kLevels, kLevels, kLevels}, highest[3] = {0, 0, 0};
  for (size_t i = box.begin; i < box.end; ++i) {
    const uint32_t p = order[i];
    const Moments& moments = points.moments[p];
    for (int axis = 0; axis < 3; ++axis) {
      const int level = LevelIn(points.bin[p], axis);
      buckets[axis][level].Add(moments, 1);
      lowest[axis] = std::min(lowest[axis], level);
      highest[axis] = std::max(highest[axis], level);
    }
  }
  double best = -1;
  int bestAxis = -1, bestCut = 0;
  Moments bestLow;
  for (int axis = 0; axis < 3; ++axis) {
    Moments low;
    for (int cut = lowest[axis]; cut < highest[axis]; ++cut) {
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
  // A stable partition: the lower half keeps its order in place, the upper
  // half waits in `spare`.
  size_t low = box.begin;
  spare.clear();
  for (size_t i = box.begin; i < box.end; ++i) {
    const uint32_t p = order[i];
    if (LevelIn(points.bin[p], bestAxis) <= bestCut) {
      order[low++] = p;
    } else {
      spare.push_back(p);
    }
  }
  std::copy(spare.begin(), spare.end(), order.begin() + std::ptrdiff_t(low));
  upper.begin = low;
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
  std::vector<uint32_t> order(points.bin.size()), spare;
  spare.reserve(order.size());
  for (size_t p = 0; p < order.size(); ++p) order[p] = uint32_t(p);
  Box whole;
  whole.end = order.size();
  for (const Moments& moments : points.moments) whole.moments.Add(moments, 1);
  whole.variance = whole.moments.Variance();
  whole.splittable = order.size() > 1;
  std::vector<Box> boxes{whole};
  boxes.reserve(size_t(count));
  // Per box, its variance while it can be split: the choice is a scan of
  // plain numbers.
  const auto priority = [](const Box& box) { return box.splittable ? box.variance : -INFINITY; };
  std::vector<double> priorities{priority(whole)};
  priorities.reserve(size_t(count));
  while (int(boxes.size()) < count) {
    int next = -1;
    double largest = -INFINITY;
    for (size_t i = 0; i < priorities.size(); ++i) {
      if (priorities[i] > largest) {
        largest = priorities[i];
        next = int(i);
      }
    }
    if (next < 0 || largest <= 0) break;
    Box upper;
    Box& box = boxes[size_t(next)];
    if (!SplitBox(points, order, spare, box, upper)) {
      box.splittable = false;
      priorities[size_t(next)] = -INFINITY;
      continue;
    }
    priorities[size_t(next)] = priority(box);
    boxes.push_back(upper);
    priorities.push_back(priority(upper));
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

Clusters<3>::Coordinates CoordinatesOf(const Colour& colour) {
  return {colour.channel[0], colour.channel[1], colour.channel[2]};
}

// New centres: the weighted mean of each cluster; an emptied cluster keeps
// its centre. moved[k] takes how far centre k went.
void MoveCentres(const Points& points, const std::vector<int>& cluster, std::vector<Colour>& centres,
                 std::vector<float>& moved) {
  std::vector<Moments> totals(centres.size());
  for (size_t p = 0; p < points.mean.size(); ++p) totals[size_t(cluster[p])].Add(points.moments[p], 1);
  moved.assign(centres.size(), 0.0f);
  for (size_t k = 0; k < centres.size(); ++k) {
    if (totals[k].weight <= 0) continue;
    const Colour mean = MeanOf(totals[k]);
    moved[k] = Distance(mean, centres[k]);
    centres[k] = mean;
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

std::vector<uint16_t> SearchPalette(const std::vector<BinMoments>& histogram, int maxColors,
                                    std::vector<int16_t>* entries) {
  // Points in the order of their colours, so that sums over them do not
  // depend on where a colour first appears.
  // Each bin occurs once: a bit per bin present and its position, read
  // back in the order of the bits. Only positions of present bins are read.
  std::array<uint64_t, kBins / 64> present{};
  std::vector<uint16_t> positionOf(kBins);
  for (size_t i = 0; i < histogram.size(); ++i) {
    if (histogram[i].weight <= 0) continue;
    const uint16_t bin = histogram[i].bin;
    present[bin / 64] |= uint64_t(1) << (bin % 64);
    positionOf[bin] = uint16_t(i);
  }
  std::vector<uint32_t> sorted;
  sorted.reserve(histogram.size());
  for (size_t word = 0; word < present.size(); ++word) {
    for (uint64_t bits = present[word]; bits != 0; bits &= bits - 1) {
      sorted.push_back(positionOf[word * 64 + size_t(std::countr_zero(bits))]);
    }
  }
  if (entries != nullptr) entries->assign(histogram.size(), -1);
  if (sorted.empty() || maxColors <= 0) return {};
  Points points;
  points.bin.reserve(sorted.size());
  points.moments.reserve(sorted.size());
  points.mean.reserve(sorted.size());
  for (uint32_t i : sorted) {
    const BinMoments& moments = histogram[i];
    points.bin.push_back(moments.bin);
    Moments pointMoments;
    pointMoments.weight = double(moments.weight);
    for (int c = 0; c < 3; ++c) pointMoments.sum[c] = double(moments.sum[size_t(c)]);
    pointMoments.squares = double(moments.squares);
    points.moments.push_back(pointMoments);
    points.mean.push_back(MeanOf(pointMoments));
  }
  if (int(sorted.size()) <= maxColors) {
    if (entries != nullptr) {
      for (size_t p = 0; p < sorted.size(); ++p) (*entries)[sorted[p]] = int16_t(p);
    }
    return points.bin;
  }

  std::vector<Colour> centres;
  for (const Box& box : SplitCube(points, maxColors)) centres.push_back(MeanOf(box.moments));

  // Refine in continuous colour, then on the stored levels: snapping moves
  // a centre by up to half a level, which can change what is nearest.
  std::vector<Clusters<3>::Coordinates> coordinates;
  coordinates.reserve(points.mean.size());
  for (const Colour& mean : points.mean) coordinates.push_back(CoordinatesOf(mean));
  Clusters<3> clusters(coordinates);
  const auto assign = [&](bool fresh) {
    std::vector<Clusters<3>::Coordinates> at;
    at.reserve(centres.size());
    for (const Colour& centre : centres) at.push_back(CoordinatesOf(centre));
    return clusters.Assign(at, fresh);
  };
  std::vector<float> moved;
  for (int pass = 0; pass < kKMeansPasses; ++pass) {
    if (!assign(pass == 0)) break;
    MoveCentres(points, clusters.Entries(), centres, moved);
    clusters.Moved(moved, nullptr);
  }
  std::vector<uint16_t> palette;
  std::vector<int> renumber;
  for (int pass = 0; pass < kSnappedPasses; ++pass) {
    std::vector<uint16_t> snapped;
    for (const Colour& centre : centres) snapped.push_back(uint16_t(SnappedBin(centre)));
    std::vector<uint16_t> unique = SortedUnique(snapped);
    if (unique == palette) break;
    renumber.resize(centres.size());
    moved.resize(centres.size());
    for (size_t k = 0; k < centres.size(); ++k) {
      renumber[k] = int(std::lower_bound(unique.begin(), unique.end(), snapped[k]) - unique.begin());
      moved[k] = Distance(centres[k], ShownColour(snapped[k]));
    }
    clusters.Moved(moved, &renumber);
    palette = std::move(unique);
    centres.clear();
    for (uint16_t bin : palette) centres.push_back(ShownColour(bin));
    assign(false);
    MoveCentres(points, clusters.Entries(), centres, moved);
    clusters.Moved(moved, nullptr);
  }
  // The last assignment was to the palette's own colours.
  if (entries != nullptr) {
    for (size_t p = 0; p < sorted.size(); ++p) (*entries)[sorted[p]] = int16_t(clusters.Entries()[p]);
  }
  return palette;
}

}  // namespace zef::quantize::detail

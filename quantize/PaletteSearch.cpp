#include "quantize/PaletteSearch.h"

#include <algorithm>
#include <cmath>

namespace zef::quantize::detail {

namespace {

// Cumulative moments over the cube, one cell of padding below each axis so
// that a box's sums come from eight corner lookups.
constexpr int kSide = kLevels + 1;
constexpr int kCells = kSide * kSide * kSide;
constexpr int kKMeansPasses = 8;
constexpr int kSnappedPasses = 4;
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

inline int Cell(int a0, int a1, int a2) { return (a0 * kSide + a1) * kSide + a2; }

// A box of the cube: lower bounds exclusive, upper inclusive, in padded
// coordinates (0..16).
struct Box {
  int lo[3], hi[3];
  double variance = 0;
};

class CubeMoments {
 public:
  explicit CubeMoments(const std::vector<BinMoments>& histogram) : cells_(kCells) {
    for (int bin = 0; bin < kBins; ++bin) {
      const BinMoments& moments = histogram[size_t(bin)];
      if (moments.weight <= 0) continue;
      Moments& cell = cells_[size_t(Cell(LevelIn(bin, 0) + 1, LevelIn(bin, 1) + 1, LevelIn(bin, 2) + 1))];
      cell.weight = double(moments.weight);
      for (int c = 0; c < 3; ++c) cell.sum[c] = double(moments.sum[size_t(c)]);
      cell.squares = double(moments.squares);
    }
    // Prefix sums along each axis in turn.
    for (int a0 = 1; a0 < kSide; ++a0)
      for (int a1 = 0; a1 < kSide; ++a1)
        for (int a2 = 0; a2 < kSide; ++a2) At(a0, a1, a2).Add(At(a0 - 1, a1, a2), 1);
    for (int a0 = 0; a0 < kSide; ++a0)
      for (int a1 = 1; a1 < kSide; ++a1)
        for (int a2 = 0; a2 < kSide; ++a2) At(a0, a1, a2).Add(At(a0, a1 - 1, a2), 1);
    for (int a0 = 0; a0 < kSide; ++a0)
      for (int a1 = 0; a1 < kSide; ++a1)
        for (int a2 = 1; a2 < kSide; ++a2) At(a0, a1, a2).Add(At(a0, a1, a2 - 1), 1);
  }

  Moments Of(const Box& box) const {
    Moments total;
    for (int corner = 0; corner < 8; ++corner) {
      int at[3];
      int lows = 0;
      for (int a = 0; a < 3; ++a) {
        const bool low = (corner >> a & 1) != 0;
        at[a] = low ? box.lo[a] : box.hi[a];
        lows += low ? 1 : 0;
      }
      total.Add(cells_[size_t(Cell(at[0], at[1], at[2]))], lows % 2 == 0 ? 1 : -1);
    }
    return total;
  }

 private:
  Moments& At(int a0, int a1, int a2) { return cells_[size_t(Cell(a0, a1, a2))]; }
  std::vector<Moments> cells_;
};

// Splits the box where the two halves explain the most; false when no cut
// leaves weight on both sides.
bool SplitBox(const CubeMoments& cube, Box& box, Box& upper) {
  double best = -1;
  int bestAxis = -1, bestCut = 0;
  for (int axis = 0; axis < 3; ++axis) {
    for (int cut = box.lo[axis] + 1; cut < box.hi[axis]; ++cut) {
      Box low = box, high = box;
      low.hi[axis] = cut;
      high.lo[axis] = cut;
      const Moments lowMoments = cube.Of(low), highMoments = cube.Of(high);
      if (lowMoments.weight <= 0 || highMoments.weight <= 0) continue;
      const double score = lowMoments.Explained() + highMoments.Explained();
      if (score > best) {
        best = score;
        bestAxis = axis;
        bestCut = cut;
      }
    }
  }
  if (bestAxis < 0) return false;
  upper = box;
  box.hi[bestAxis] = bestCut;
  upper.lo[bestAxis] = bestCut;
  box.variance = cube.Of(box).Variance();
  upper.variance = cube.Of(upper).Variance();
  return true;
}

// Boxes that together cover every weighted bin, at most `count` of them,
// splitting the box of largest variance first.
std::vector<Box> SplitCube(const CubeMoments& cube, int count) {
  Box whole{{0, 0, 0}, {kLevels, kLevels, kLevels}};
  whole.variance = cube.Of(whole).Variance();
  std::vector<Box> boxes{whole};
  std::vector<bool> splittable{true};
  while (int(boxes.size()) < count) {
    int next = -1;
    for (size_t i = 0; i < boxes.size(); ++i) {
      if (splittable[i] && (next < 0 || boxes[i].variance > boxes[size_t(next)].variance)) next = int(i);
    }
    if (next < 0 || boxes[size_t(next)].variance <= 0) break;
    Box upper{};
    if (!SplitBox(cube, boxes[size_t(next)], upper)) {
      splittable[size_t(next)] = false;
      continue;
    }
    boxes.push_back(upper);
    splittable.push_back(true);
  }
  return boxes;
}

Colour MeanOf(const Moments& moments) {
  Colour mean{};
  for (int c = 0; c < 3; ++c) mean.channel[c] = float(moments.sum[c] / moments.weight);
  return mean;
}

int SnapLevel(float value) {
  const int level = int(std::lround(value / kLevelStep));
  return std::clamp(level, 0, kLevels - 1);
}

int SnappedBin(const Colour& colour) {
  return BinOf(SnapLevel(colour.channel[0]), SnapLevel(colour.channel[1]), SnapLevel(colour.channel[2]));
}

// The weighted bins as points: their mean colours and weights.
struct Points {
  std::vector<Colour> mean;
  std::vector<double> weight;
  std::vector<std::array<double, 3>> sum;
};

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
  c0_.reserve(entries.size());
  c1_.reserve(entries.size());
  c2_.reserve(entries.size());
  for (const Colour& entry : entries) {
    c0_.push_back(entry.channel[0]);
    c1_.push_back(entry.channel[1]);
    c2_.push_back(entry.channel[2]);
  }
}

int NearestEntry::Find(const Colour& colour) const {
  int best = 0;
  float bestDistance = INFINITY;
  const size_t count = c0_.size();
  for (size_t k = 0; k < count; ++k) {
    const float d0 = c0_[k] - colour.channel[0], d1 = c1_[k] - colour.channel[1],
                d2 = c2_[k] - colour.channel[2];
    const float distance = d0 * d0 + d1 * d1 + d2 * d2;
    if (distance < bestDistance) {
      bestDistance = distance;
      best = int(k);
    }
  }
  return best;
}

Colour ShownColour(int bin) {
  return Colour{{float(LevelIn(bin, 0)) * kLevelStep, float(LevelIn(bin, 1)) * kLevelStep,
                 float(LevelIn(bin, 2)) * kLevelStep}};
}

std::vector<uint16_t> SearchPalette(const std::vector<BinMoments>& histogram, int maxColors) {
  Points points;
  std::vector<uint16_t> occupied;
  for (int bin = 0; bin < kBins; ++bin) {
    const BinMoments& moments = histogram[size_t(bin)];
    if (moments.weight <= 0) continue;
    occupied.push_back(uint16_t(bin));
    const double weight = double(moments.weight);
    points.weight.push_back(weight);
    points.sum.push_back({double(moments.sum[0]), double(moments.sum[1]), double(moments.sum[2])});
    points.mean.push_back(Colour{{float(double(moments.sum[0]) / weight), float(double(moments.sum[1]) / weight),
                                  float(double(moments.sum[2]) / weight)}});
  }
  if (occupied.empty() || maxColors <= 0) return {};
  if (int(occupied.size()) <= maxColors) return occupied;

  const CubeMoments cube(histogram);
  std::vector<Colour> centres;
  for (const Box& box : SplitCube(cube, maxColors)) centres.push_back(MeanOf(cube.Of(box)));

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

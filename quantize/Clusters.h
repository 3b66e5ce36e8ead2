// Each point's nearest centre over k-means passes, for the palette searches
// of both reductions (three colour axes, or three and alpha). Internal to
// the module.
//
// A point keeps, besides its centre, an upper bound on the distance to it
// and a lower bound on the distance to every other centre; as centres move
// the bounds loosen by the moves, and only a point whose bounds cross is
// measured against every centre again. Most points settle after the first
// pass, so later passes cost little.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// Eight centres at a time where the processor has AVX2, chosen as the
// program runs: the same sums in the same order, so the same answers.
#if defined(__SSE2__) && defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define ZEF_CLUSTERS_WIDE 1
#include <immintrin.h>
#endif

namespace zef::quantize::detail {

// Low bits of a squared distance that carry a centre's number: at most 256
// centres.
inline constexpr int32_t kCentreBits = 0xFF;
inline constexpr int kMostCentres = kCentreBits + 1;

template <int Axes>
class Clusters {
 public:
  using Coordinates = std::array<float, Axes>;

  // The points must outlive the clusters.
  explicit Clusters(const std::vector<Coordinates>& points)
      : points_(points), entry_(points.size(), -1), upper_(points.size(), 0), lower_(points.size(), 0) {}

  // Points to their nearest centre: all of them measured when `fresh`,
  // else those whose bounds do not settle it. True when any point changed
  // centre. Unless fresh, the centres are those of the last Assign or Seed
  // as Moved has moved them since.
  bool Assign(const std::vector<Coordinates>& centres, bool fresh) {
    Load(centres);
    // The gaps between centres cost a search per centre: worth it when
    // they can spare the searches of several points each.
    if (fresh) {
      gapsKept_ = false;
    } else if (!gapsKept_ && (seeded_ || entry_.size() > kPointsPerGapSearch * centres.size())) {
#if defined(ZEF_CLUSTERS_WIDE)
      if (wide_) {
        HalfGapsWide(centres);
      } else {
        HalfGaps(centres);
      }
#else
      HalfGaps(centres);
#endif
      gapsKept_ = true;
    }
    seeded_ = false;
    const bool gaps = !fresh && gapsKept_;
    bool changed = false;
    for (size_t p = 0; p < entry_.size(); ++p) {
      const int before = entry_[p];
      if (!fresh) {
        // A point nearer its centre than half the gap to the centre's
        // nearest neighbour cannot be nearer to another.
        const float bound = gaps ? std::max(lower_[p], halfGap_[size_t(before)]) : lower_[p];
        if (upper_[p] < bound) continue;
        upper_[p] = Distance(points_[p], centres[size_t(before)]);
        if (upper_[p] < bound) continue;
      }
      Search(p);
      changed = changed || entry_[p] != before;
    }
    return changed;
  }

  // Starts from a known centre per point (as a split leaves them) instead
  // of measuring every point: the next Assign, to the same centres,
  // measures only the points that the gaps between centres do not settle.
  void Seed(const std::vector<Coordinates>& centres, const std::vector<int>& entries) {
    for (size_t p = 0; p < entry_.size(); ++p) {
      const size_t own = size_t(entries[p]);
      entry_[p] = int(own);
      upper_[p] = Distance(points_[p], centres[own]);
      lower_[p] = 0;
    }
    seeded_ = true;
    gapsKept_ = false;
  }

  // Centre k moved by moved[k] and is now centre renumber[k] (several may
  // become one).
  void Moved(const std::vector<float>& moved, const std::vector<int>* renumber) {
    // Every other centre came at most the largest move nearer.
    float largest = 0, second = 0;
    size_t largestAt = 0;
    for (size_t k = 0; k < moved.size(); ++k) {
      if (moved[k] > largest) {
        second = largest;
        largest = moved[k];
        largestAt = k;
      } else if (moved[k] > second) {
        second = moved[k];
      }
    }
    for (size_t p = 0; p < entry_.size(); ++p) {
      const size_t own = size_t(entry_[p]);
      upper_[p] += moved[own];
      lower_[p] -= own == largestAt ? second : largest;
      if (renumber != nullptr) entry_[p] = (*renumber)[own];
    }
    // Bounds on the gaps would loosen by the largest move as well, which
    // settles fewer points than measuring the gaps again costs.
    gapsKept_ = false;
  }

  const std::vector<int>& Entries() const { return entry_; }

  static float Distance(const Coordinates& a, const Coordinates& b) {
    float square = 0;
    for (int axis = 0; axis < Axes; ++axis) {
      const float d = a[size_t(axis)] - b[size_t(axis)];
      square += d * d;
    }
    return std::sqrt(square);
  }

 private:
  // Centres are measured four (or eight) at a time; the rows are padded
  // to whole groups of eight with centres at this distance, whose keys
  // sort after every real one.
  static constexpr int kGroup = 4;
  static constexpr int kWideGroup = 8;
  static constexpr float kFarAway = 1e18f;
  static constexpr size_t kPointsPerGapSearch = 2;
  // Above every key: the largest finite float's bits.
  static constexpr int32_t kNoKey = 0x7F7FFFFF;

  // Half the distance from each centre to its nearest other one. Each
  // pair is measured once, from its first centre, and counts for both.
  void HalfGaps(const std::vector<Coordinates>& centres) {
    const size_t count = centres.size();
    const size_t padded = row_[0].size();
    nearest_.assign(padded, INFINITY);
    for (size_t i = 0; i + 1 < count; ++i) {
      float rowNearest = INFINITY;
      // From the group that holds centre i + 1: lanes up to i are skipped.
      size_t k = (i + 1) / kGroup * kGroup;
#if defined(__SSE2__)
      __m128 at[Axes];
      for (int axis = 0; axis < Axes; ++axis) at[axis] = _mm_set1_ps(centres[i][size_t(axis)]);
      const __m128 none = _mm_set1_ps(INFINITY);
      const __m128i self = _mm_set1_epi32(int32_t(i));
      __m128i number = _mm_add_epi32(_mm_set1_epi32(int32_t(k)), _mm_setr_epi32(0, 1, 2, 3));
      const __m128i step = _mm_set1_epi32(kGroup);
      __m128 lowest = none;
      for (; k < padded; k += kGroup) {
        const __m128 d0 = _mm_sub_ps(_mm_loadu_ps(row_[0].data() + k), at[0]);
        __m128 square = _mm_mul_ps(d0, d0);
        for (int axis = 1; axis < Axes; ++axis) {
          const __m128 d = _mm_sub_ps(_mm_loadu_ps(row_[size_t(axis)].data() + k), at[axis]);
          square = _mm_add_ps(square, _mm_mul_ps(d, d));
        }
        const __m128 after = _mm_castsi128_ps(_mm_cmpgt_epi32(number, self));
        square = _mm_or_ps(_mm_and_ps(after, square), _mm_andnot_ps(after, none));
        lowest = _mm_min_ps(lowest, square);
        _mm_storeu_ps(nearest_.data() + k, _mm_min_ps(_mm_loadu_ps(nearest_.data() + k), square));
        number = _mm_add_epi32(number, step);
      }
      alignas(16) float lanes[kGroup];
      _mm_store_ps(lanes, lowest);
      for (float lane : lanes) rowNearest = std::min(rowNearest, lane);
#else
      for (k = i + 1; k < count; ++k) {
        float square = 0;
        for (int axis = 0; axis < Axes; ++axis) {
          const float d = row_[size_t(axis)][k] - centres[i][size_t(axis)];
          square += d * d;
        }
        rowNearest = std::min(rowNearest, square);
        nearest_[k] = std::min(nearest_[k], square);
      }
#endif
      nearest_[i] = std::min(nearest_[i], rowNearest);
    }
    halfGap_.resize(count);
    for (size_t k = 0; k < count; ++k) halfGap_[k] = std::sqrt(nearest_[k]) / 2;
  }

  // Rows of centres padded to whole groups of eight with centres so far
  // away that none is ever nearest or next.
  void Load(const std::vector<Coordinates>& centres) {
    count_ = int(centres.size());
    const size_t padded = (centres.size() + kWideGroup - 1) / kWideGroup * kWideGroup;
    for (int axis = 0; axis < Axes; ++axis) {
      std::vector<float>& row = row_[size_t(axis)];
      row.assign(padded, kFarAway);
      for (size_t k = 0; k < centres.size(); ++k) row[k] = centres[k][size_t(axis)];
    }
  }

  // Measures the point against every centre: the nearest and the distance
  // to the next.
  void Search(size_t p) {
    int32_t best = INT32_MAX, next = INT32_MAX;
#if defined(ZEF_CLUSTERS_WIDE)
    if (wide_) {
      KeysWide(points_[p], best, next);
    } else {
      Keys(points_[p], best, next);
    }
#else
    Keys(points_[p], best, next);
#endif
    const int at = best & kCentreBits;
    Coordinates centre;
    for (int axis = 0; axis < Axes; ++axis) centre[size_t(axis)] = row_[size_t(axis)][size_t(at)];
    entry_[p] = at;
    upper_[p] = Distance(points_[p], centre);
    lower_[p] = (next & kCentreBits) >= count_ ? INFINITY
                                               : std::sqrt(std::bit_cast<float>(next & ~kCentreBits));
  }

  // The two smallest keys of the point against every centre. Squared
  // distances are compared as their bit patterns (which order non-negative
  // floats) with the centre's number in the low bits: every key differs,
  // the first of (near) equals wins, and the nearest and the next come out
  // of one pass.
  void Keys(const Coordinates& point, int32_t& best, int32_t& next) const {
    best = INT32_MAX;
    next = INT32_MAX;
    const size_t padded = row_[0].size();
#if defined(__SSE2__)
    // Keys are non-negative finite floats, so the float minimum orders
    // them as integers would, one instruction for four.
    __m128 at[Axes];
    for (int axis = 0; axis < Axes; ++axis) at[axis] = _mm_set1_ps(point[size_t(axis)]);
    const __m128i highBits = _mm_set1_epi32(~kCentreBits);
    __m128i number = _mm_setr_epi32(0, 1, 2, 3);
    const __m128i step = _mm_set1_epi32(kGroup);
    const auto keyAt = [&](size_t k, __m128i number) {
      const __m128 d0 = _mm_sub_ps(_mm_loadu_ps(row_[0].data() + k), at[0]);
      __m128 square = _mm_mul_ps(d0, d0);
      for (int axis = 1; axis < Axes; ++axis) {
        const __m128 d = _mm_sub_ps(_mm_loadu_ps(row_[size_t(axis)].data() + k), at[axis]);
        square = _mm_add_ps(square, _mm_mul_ps(d, d));
      }
      return _mm_castsi128_ps(_mm_or_si128(_mm_and_si128(_mm_castps_si128(square), highBits), number));
    };
    // Two pairs of running minima, for even and odd groups, so that one
    // group's minimum need not wait for the last; every key differs, so
    // the two smallest of all are among the four lanes' pairs.
    const __m128 none = _mm_castsi128_ps(_mm_set1_epi32(kNoKey));
    __m128 lowestEven = none, secondEven = none, lowestOdd = none, secondOdd = none;
    size_t k = 0;
    for (; k + 2 * kGroup <= padded; k += 2 * kGroup) {
      const __m128 even = keyAt(k, number);
      const __m128 odd = keyAt(k + kGroup, _mm_add_epi32(number, step));
      secondEven = _mm_min_ps(secondEven, _mm_max_ps(lowestEven, even));
      lowestEven = _mm_min_ps(lowestEven, even);
      secondOdd = _mm_min_ps(secondOdd, _mm_max_ps(lowestOdd, odd));
      lowestOdd = _mm_min_ps(lowestOdd, odd);
      number = _mm_add_epi32(number, _mm_add_epi32(step, step));
    }
    if (k < padded) {
      const __m128 even = keyAt(k, number);
      secondEven = _mm_min_ps(secondEven, _mm_max_ps(lowestEven, even));
      lowestEven = _mm_min_ps(lowestEven, even);
    }
    alignas(16) int32_t lanes[4 * kGroup];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), _mm_castps_si128(lowestEven));
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes + kGroup), _mm_castps_si128(secondEven));
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes + 2 * kGroup), _mm_castps_si128(lowestOdd));
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes + 3 * kGroup), _mm_castps_si128(secondOdd));
    for (int32_t key : lanes) Keep(key, best, next);
#else
    for (size_t k = 0; k < padded; ++k) {
      float square = 0;
      for (int axis = 0; axis < Axes; ++axis) {
        const float d = row_[size_t(axis)][k] - point[size_t(axis)];
        square += d * d;
      }
      Keep((std::bit_cast<int32_t>(square) & ~kCentreBits) | int32_t(k), best, next);
    }
#endif
  }

#if defined(ZEF_CLUSTERS_WIDE)
  // Keys() eight centres at a time.
  __attribute__((target("avx2"))) void KeysWide(const Coordinates& point, int32_t& best, int32_t& next) const {
    const size_t padded = row_[0].size();
    __m256 at[Axes];
    for (int axis = 0; axis < Axes; ++axis) at[axis] = _mm256_set1_ps(point[size_t(axis)]);
    const __m256i highBits = _mm256_set1_epi32(~kCentreBits);
    __m256i number = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i step = _mm256_set1_epi32(kWideGroup);
    __m256 lowest = _mm256_castsi256_ps(_mm256_set1_epi32(kNoKey)), second = lowest;
    for (size_t k = 0; k < padded; k += kWideGroup) {
      const __m256 d0 = _mm256_sub_ps(_mm256_loadu_ps(row_[0].data() + k), at[0]);
      __m256 square = _mm256_mul_ps(d0, d0);
      for (int axis = 1; axis < Axes; ++axis) {
        const __m256 d = _mm256_sub_ps(_mm256_loadu_ps(row_[size_t(axis)].data() + k), at[axis]);
        square = _mm256_add_ps(square, _mm256_mul_ps(d, d));
      }
      const __m256 key =
          _mm256_castsi256_ps(_mm256_or_si256(_mm256_and_si256(_mm256_castps_si256(square), highBits), number));
      second = _mm256_min_ps(second, _mm256_max_ps(lowest, key));
      lowest = _mm256_min_ps(lowest, key);
      number = _mm256_add_epi32(number, step);
    }
    alignas(32) int32_t lanes[2 * kWideGroup];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), _mm256_castps_si256(lowest));
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes + kWideGroup), _mm256_castps_si256(second));
    for (int32_t key : lanes) Keep(key, best, next);
  }

  // HalfGaps() eight centres at a time.
  __attribute__((target("avx2"))) void HalfGapsWide(const std::vector<Coordinates>& centres) {
    const size_t count = centres.size();
    const size_t padded = row_[0].size();
    nearest_.assign(padded, INFINITY);
    for (size_t i = 0; i + 1 < count; ++i) {
      size_t k = (i + 1) / kWideGroup * kWideGroup;
      __m256 at[Axes];
      for (int axis = 0; axis < Axes; ++axis) at[axis] = _mm256_set1_ps(centres[i][size_t(axis)]);
      const __m256 none = _mm256_set1_ps(INFINITY);
      const __m256i self = _mm256_set1_epi32(int32_t(i));
      __m256i number = _mm256_add_epi32(_mm256_set1_epi32(int32_t(k)), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
      const __m256i step = _mm256_set1_epi32(kWideGroup);
      __m256 lowest = none;
      for (; k < padded; k += kWideGroup) {
        const __m256 d0 = _mm256_sub_ps(_mm256_loadu_ps(row_[0].data() + k), at[0]);
        __m256 square = _mm256_mul_ps(d0, d0);
        for (int axis = 1; axis < Axes; ++axis) {
          const __m256 d = _mm256_sub_ps(_mm256_loadu_ps(row_[size_t(axis)].data() + k), at[axis]);
          square = _mm256_add_ps(square, _mm256_mul_ps(d, d));
        }
        const __m256 after = _mm256_castsi256_ps(_mm256_cmpgt_epi32(number, self));
        square = _mm256_blendv_ps(none, square, after);
        lowest = _mm256_min_ps(lowest, square);
        _mm256_storeu_ps(nearest_.data() + k, _mm256_min_ps(_mm256_loadu_ps(nearest_.data() + k), square));
        number = _mm256_add_epi32(number, step);
      }
      alignas(32) float lanes[kWideGroup];
      _mm256_store_ps(lanes, lowest);
      float rowNearest = INFINITY;
      for (float lane : lanes) rowNearest = std::min(rowNearest, lane);
      nearest_[i] = std::min(nearest_[i], rowNearest);
    }
    halfGap_.resize(count);
    for (size_t k = 0; k < count; ++k) halfGap_[k] = std::sqrt(nearest_[k]) / 2;
  }
#endif

  static void Keep(int32_t key, int32_t& best, int32_t& next) {
    if (key < best) {
      next = best;
      best = key;
    } else if (key < next) {
      next = key;
    }
  }

  const std::vector<Coordinates>& points_;
  std::vector<int> entry_;
  std::vector<float> upper_, lower_;
  std::vector<float> halfGap_;  // per centre
  std::vector<float> nearest_;  // squared distance from each centre to its nearest other
  bool seeded_ = false;         // no bounds but the centres' gaps yet
  bool gapsKept_ = false;       // halfGap_ holds the gaps of these centres
  std::array<std::vector<float>, Axes> row_;  // per axis, padded to whole groups
  int count_ = 0;
#if defined(ZEF_CLUSTERS_WIDE)
  bool wide_ = __builtin_cpu_supports("avx2");
#endif
};

}  // namespace zef::quantize::detail

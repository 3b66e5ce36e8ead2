// The fewest bytes of a line by dynamic programming over its pixels: the
// cost of the first x pixels is the cheapest last op plus the cost before
// it. Costs never fall as x grows (dropping a line's last pixel never
// makes its ops longer), which keeps each step constant time:
// - of the runs ending at x the longest is cheapest, so only it is tried;
// - a literal from j to x takes ceil((x - j) * bits / 8) bytes. Writing
//   j * bits = 8m + s, that is floor((x * bits - s + 7) / 8) - m, so for
//   each bit phase s the best start is the one of least cost[j] - m in the
//   last 128 starts, which a queue of rising keys keeps.
// For a given end, floor((x * bits - s + 7) / 8) takes one value for the
// phases up to (x * bits + 7) mod 8 and one less above, so the phases are
// compared by their queue heads' keys less that one. A start leaves the
// window at one known end, so each step checks one queue for it.
// Ties go to the op found first: a run, then literals by phase, and of
// equal literals the longer.
#include "writer/LineOps.h"

#include <cstddef>

#include "archive/ZefFormat.h"

namespace zef {

namespace {

// A phase with no start: above any cost, with room to add a line's bytes.
constexpr int32_t kNoStart = INT32_MAX / 2;

void PutLiteral(const uint8_t* indices, uint32_t count, int bits, std::vector<uint8_t>& out) {
  out.push_back(uint8_t(count - 1));
  if (bits == 8) {
    out.insert(out.end(), indices, indices + count);
    return;
  }
  uint32_t pending = 0;
  int pendingBits = 0;
  for (uint32_t n = 0; n < count; ++n) {
    pending = pending << bits | indices[n];
    pendingBits += bits;
    if (pendingBits >= 8) {
      pendingBits -= 8;
      out.push_back(uint8_t(pending >> pendingBits));
    }
  }
  if (pendingBits > 0) out.push_back(uint8_t(pending << (8 - pendingBits)));
}

}  // namespace

template <int Bits>
void LineOpCoder::Costs(const uint8_t* indices, uint32_t width) {
  // Starts j * bits fall only on multiples of the lowest set bit of bits.
  constexpr uint32_t kPhaseStep = uint32_t(Bits & -Bits);
  const size_t stride = size_t(width) + 1;
  window_.resize(8 * stride);
  // A queue holds each start once: head and tail index into it. The heads'
  // keys and starts are kept beside them for the step's comparison.
  uint32_t head[8] = {}, tail[8] = {};
  int32_t headKey[8], headAt[8] = {};
  for (int32_t& key : headKey) key = kNoStart;
  const auto push = [&](uint32_t j) {
    const uint32_t s = (j * Bits) & 7;
    Start* window = window_.data() + s * stride;
    const int32_t key = int32_t(cost_[j]) - int32_t((j * Bits) >> 3);
    while (tail[s] > head[s] && window[tail[s] - 1].key > key) --tail[s];
    window[tail[s]++] = {j, key};
    headKey[s] = window[head[s]].key;
    headAt[s] = int32_t(window[head[s]].at);
  };
  cost_[0] = 0;
  push(0);
  uint32_t same = 0;
  for (uint32_t x = 1; x <= width; ++x) {
    if (x > kV4LiteralMax) {
      // The one start that no literal ending here can reach.
      const uint32_t gone = x - kV4LiteralMax - 1;
      const uint32_t s = (gone * Bits) & 7;
      if (tail[s] > head[s] && headAt[s] == int32_t(gone)) {
        ++head[s];
        const Start* window = window_.data() + s * stride;
        headKey[s] = tail[s] > head[s] ? window[head[s]].key : kNoStart;
        headAt[s] = tail[s] > head[s] ? int32_t(window[head[s]].at) : 0;
      }
    }
    const uint8_t value = indices[x - 1];
    same = x >= 2 && indices[x - 2] == value ? same + 1 : 1;
    const uint32_t runLength = same < kV4RunMax ? same : kV4RunMax;
    const uint32_t run = cost_[x - runLength] + (value == 0 ? 1 : 2);
    const uint32_t ends = x * Bits + 7;
    const uint32_t lastFullPhase = ends & 7;
    int32_t least = kNoStart;
    uint32_t leastPhase = 0;
    for (uint32_t s = 0; s < 8; s += kPhaseStep) {
      const int32_t key = headKey[s] - (s > lastFullPhase ? 1 : 0);
      if (key < least) {
        least = key;
        leastPhase = s;
      }
    }
    // The start just before x is always in its queue, so some phase has one.
    const int64_t literal = int64_t(least) + int64_t(ends >> 3) + 1;
    if (literal < int64_t(run)) {
      cost_[x] = uint32_t(literal);
      choice_[x] = {uint8_t(x - uint32_t(headAt[leastPhase])), false};
    } else {
      cost_[x] = run;
      choice_[x] = {uint8_t(runLength), true};
    }
    push(x);
  }
}

void LineOpCoder::Code(const uint8_t* indices, uint32_t width, int indexBits, std::vector<uint8_t>& out) {
  cost_.resize(size_t(width) + 1);
  choice_.resize(size_t(width) + 1);
  switch (indexBits) {
    case 1: Costs<1>(indices, width); break;
    case 2: Costs<2>(indices, width); break;
    case 3: Costs<3>(indices, width); break;
    case 4: Costs<4>(indices, width); break;
    case 5: Costs<5>(indices, width); break;
    case 6: Costs<6>(indices, width); break;
    case 7: Costs<7>(indices, width); break;
    default: Costs<8>(indices, width); break;
  }
  ends_.clear();
  for (uint32_t x = width; x > 0; x -= choice_[x].length) ends_.push_back(x);
  for (size_t n = ends_.size(); n-- > 0;) {
    const uint32_t end = ends_[n];
    const Choice& op = choice_[end];
    const uint32_t length = op.length;
    const uint8_t* first = indices + (end - length);
    if (!op.run) {
      PutLiteral(first, length, indexBits, out);
    } else if (first[0] == 0) {
      out.push_back(uint8_t(kV4OpRunZero | (length - 1)));
    } else {
      out.push_back(uint8_t(kV4OpRun | (length - 1)));
      out.push_back(first[0]);
    }
  }
}

}  // namespace zef

// The fewest bytes of a line by dynamic programming over its pixels: the
// cost of the first x pixels is the cheapest last op plus the cost before
// it. Costs never fall as x grows (dropping a line's last pixel never
// makes its ops longer), which keeps each step constant time:
// - of the runs ending at x the longest is cheapest, so only it is tried;
// - a literal from j to x takes ceil((x - j) * bits / 8) bytes. Writing
//   j * bits = 8m + s, that is floor((x * bits - s + 7) / 8) - m, so for
//   each bit phase s the best start is the one of least cost[j] - m in the
//   last 128 starts, which a queue of rising keys keeps.
// Ties go to the op found first: a run, then literals by phase, and of
// equal literals the longer.
#include "writer/LineOps.h"

#include <cstddef>

#include "archive/ZefFormat.h"

namespace zef {

namespace {

inline int64_t KeyOf(const std::vector<uint32_t>& cost, uint32_t j, int bits) {
  return int64_t(cost[j]) - int64_t((uint64_t(j) * bits) >> 3);
}

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

void LineOpCoder::Code(const uint8_t* indices, uint32_t width, int indexBits, std::vector<uint8_t>& out) {
  cost_.resize(size_t(width) + 1);
  choice_.resize(size_t(width) + 1);
  // A queue holds each start once: head and tail index into it.
  uint32_t head[8] = {}, tail[8] = {};
  // Starts j * bits fall only on multiples of the lowest set bit of bits.
  const uint32_t phaseStep = uint32_t(indexBits & -indexBits);
  for (uint32_t s = 0; s < 8; s += phaseStep) window_[s].resize(size_t(width) + 1);
  const auto push = [&](uint32_t j) {
    const uint32_t s = (uint64_t(j) * indexBits) & 7;
    std::vector<Start>& window = window_[s];
    const int64_t key = KeyOf(cost_, j, indexBits);
    while (tail[s] > head[s] && window[tail[s] - 1].key > key) --tail[s];
    window[tail[s]++] = {j, key};
  };
  cost_[0] = 0;
  push(0);
  uint32_t same = 0;
  for (uint32_t x = 1; x <= width; ++x) {
    const uint8_t value = indices[x - 1];
    same = x >= 2 && indices[x - 2] == value ? same + 1 : 1;
    const uint32_t runLength = same < kV4RunMax ? same : kV4RunMax;
    uint32_t best = cost_[x - runLength] + (value == 0 ? 1 : 2);
    Choice choice{uint8_t(runLength), true};
    const uint64_t endBits = uint64_t(x) * indexBits;
    for (uint32_t s = 0; s < 8; s += phaseStep) {
      const std::vector<Start>& window = window_[s];
      while (tail[s] > head[s] && x - window[head[s]].at > kV4LiteralMax) ++head[s];
      if (tail[s] == head[s]) continue;
      const uint32_t j = window[head[s]].at;
      const int64_t literal = window[head[s]].key + int64_t((endBits + 7 - s) >> 3) + 1;
      if (literal < int64_t(best)) {
        best = uint32_t(literal);
        choice = {uint8_t(x - j), false};
      }
    }
    cost_[x] = best;
    choice_[x] = choice;
    push(x);
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

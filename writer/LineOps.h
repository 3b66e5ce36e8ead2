// The version 4 line coder: each line as the fewest bytes of ops.
#pragma once

#include <cstdint>
#include <vector>

namespace zef {

// Codes lines of indices (all below 2^indexBits) into op bytes. Keeps its
// working memory between lines, so one coder serves a whole write.
class LineOpCoder {
 public:
  // Appends the ops of `width` indices to `out`.
  void Code(const uint8_t* indices, uint32_t width, int indexBits, std::vector<uint8_t>& out);

 private:
  // Fills cost_ and choice_ for one line.
  template <int Bits>
  void Costs(const uint8_t* indices, uint32_t width);

  struct Choice {
    uint8_t length;  // pixels of the op that ends here
    bool run;
  };
  std::vector<uint32_t> cost_;       // fewest bytes of the first x pixels
  std::vector<Choice> choice_;       // the last op of that coding
  struct Start {
    uint32_t at;
    int32_t key;  // cost before it less its whole bytes: the literal's cost but for its end
  };
  std::vector<Start> window_;  // literal starts, one queue per bit phase of width + 1 each
  std::vector<uint32_t> ends_;       // op ends, back to front
};

}  // namespace zef

// How many palette entries a pixel code can address.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zef {

// An index byte addresses this many palette entries.
inline constexpr size_t kMostIndices = 256;

// Most palette entries a pixel code can address once the alpha bits are
// packed beside the index; 0 means the setting has no limit.
inline size_t PaletteLimit(uint8_t alphaBits) {
  switch (alphaBits) {
    case 0: return 256;
    case 1: return 128;
    case 2: return 64;
    default: return 0;
  }
}

// True when a palette of this size cannot be coded.
inline bool PaletteRefused(size_t entries, uint8_t alphaBits) {
  const size_t limit = PaletteLimit(alphaBits);
  return (limit != 0 && entries > limit) || entries > kMostIndices;
}

}  // namespace zef

// Version 4 images before they are coded: the palette normalised as the
// writer's rules say, and the exact palette of a BGR image and its mask.
#pragma once

#include <cstdint>

#include "writer/ZefEncode.h"

namespace zef {

// `out` takes `in` normalised: entries of alpha 0 merged into one
// 0, 0, 0, 0 entry, equal entries merged, unused ones dropped, entry 0
// the one whose runs (stretches of two or more equal pixels in a line)
// cover the most pixels, the others in order of first appearance (ties
// broken by first appearance too). `out` may be `in`. An error names
// image `n`.
Status NormaliseIndexed(const IndexedImage& in, int n, IndexedImage& out);

// The palette of `image` and `mask` (alpha = mask byte, 255 without one),
// not yet normalised; kPaletteTooBig past 256 colour and alpha pairs.
Status IndexedOfView(const ImageView& image, const MaskView* mask, int n, IndexedImage& out);

// The fewest index bits that hold entry numbers up to entryCount - 1.
inline int IndexBitsFor(size_t entryCount) {
  int bits = 1;
  while ((size_t{1} << bits) < entryCount) ++bits;
  return bits;
}

}  // namespace zef

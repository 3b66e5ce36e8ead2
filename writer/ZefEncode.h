// Encoding images (and masks) into a .zef archive, in memory or into a file.
//
// Images are read through views and never kept. Nothing throws: every
// result carries an error code and the writer's message text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/ZefOptions.h"

namespace zef {

// A source image: `height` rows of `width` 3-byte pixels (blue, green,
// red), row y at data + y * stride.
struct ImageView {
  const uint8_t* data = nullptr;
  int width = 0;
  int height = 0;
  size_t stride = 0;
};

// A mask of one byte per pixel, laid out as its image; null data is "no
// mask" for that image.
struct MaskView {
  const uint8_t* data = nullptr;
  int width = 0;
  int height = 0;
  size_t stride = 0;
};

struct EncodeResult : Status {
  std::vector<uint8_t> bytes;  // the whole archive; empty on failure
};

// The archive of the images; `masks` is empty or holds one entry per image.
EncodeResult Encode(const std::vector<ImageView>& images, const std::vector<MaskView>& masks,
                    const Options& options);

// Version 4 (options.version = kVersion4) stores each image's exact
// colours with 8-bit alpha: alpha is the mask byte (255 without a mask),
// and an image of more than 256 colours and alphas is kPaletteTooBig.

// The same archive written to a file. Refused inputs leave an existing file
// untouched; a failure while writing leaves the partial file.
Status EncodeToFile(const std::string& fileName, const std::vector<ImageView>& images,
                    const std::vector<MaskView>& masks, const Options& options);

// One palette entry of a version 4 image, 8 bits per channel.
struct PaletteEntry {
  uint8_t red = 0, green = 0, blue = 0, alpha = 0;
};

// An image of palette indices, for version 4.
struct IndexedImage {
  int width = 0;
  int height = 0;
  std::vector<PaletteEntry> palette;
  std::vector<uint8_t> indices;  // width * height, row by row
};

// A version 4 archive of the images, whatever options.version says;
// options.startIndex and options.archiveSizeLimit apply. Each palette is
// normalised: entries of alpha 0 become one entry 0, 0, 0, 0, equal
// entries become one, unused ones are dropped, and entry 0 is the one
// whose runs cover the most pixels. Refused (kBadInput or kPaletteTooBig,
// never thrown): an image of no pixels or wider than 65534, indices that
// do not match the size, an index outside the palette, or more than 256
// different entries.
EncodeResult EncodeIndexed(const std::vector<IndexedImage>& images, const Options& options);

}  // namespace zef

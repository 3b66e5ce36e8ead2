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

// The same archive written to a file. Refused inputs leave an existing file
// untouched; a failure while writing leaves the partial file.
Status EncodeToFile(const std::string& fileName, const std::vector<ImageView>& images,
                    const std::vector<MaskView>& masks, const Options& options);

}  // namespace zef

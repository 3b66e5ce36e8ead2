// The palette of one image, as the front end counts colours with it.
#include <array>
#include <new>

#include "writer/EncoderSettings.h"
#include "writer/MatChecks.h"
#include "writer/PixelRuns.h"
#include "writer/ZefImgWriter.h"

namespace zef {

std::optional<Palette> ZefImgWriter::BuildPalette(const cv::Mat& image) {
  if (!IsSourceLayout(image)) {
    SetError("BuildPalette: image must have 8-bit channels and 3 channels");
    return std::nullopt;
  }
  try {
    Palette palette;
    // A seen-table gives the same first-appearance order as searching the
    // palette for every pixel, in constant time.
    std::array<bool, kColourTableSize> seen{};
    // Only the first pixel of a stretch of equal pixels can add a colour.
    for (int y = 0; y < image.rows; ++y) {
      const uint8_t* row = image.ptr<uint8_t>(y);
      for (int x = 0; x < image.cols; x = EndOfSameBgr(row, x, image.cols)) {
        const uint16_t colour = PaletteColour(row + size_t(x) * 3, swapFlag_);
        if (!seen[colour]) {
          seen[colour] = true;
          palette.push_back(colour);
        }
      }
    }
    return palette;
  } catch (const std::bad_alloc&) {
    SetError("out of memory");
    return std::nullopt;
  }
}

}  // namespace zef

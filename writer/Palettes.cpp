// One palette of 4-4-4 colours per image, index images, and the palette block.
#include <array>
#include <cstring>
#include <new>

#include "archive/FormatMessage.h"
#include "writer/ImageRules.h"
#include "writer/PixelRuns.h"
#include "writer/ZefImgWriter.h"

namespace zef {

namespace {
constexpr uint16_t kNotInPalette = 0xFFFF;
const char* PaletteTooBigMessage(uint8_t alphaBits) {
  switch (alphaBits) {
    case 0: return "error: palette too big (palette entries:%d (max 256 without alpha), image %d)";
    case 1: return "error: palette too big (palette entries:%d (max 128 with 1 alpha bit), image %d)";
    default: return "error: palette too big (palette entries:%d (max 64 with 2 alpha bits), image %d)";
  }
}
}  // namespace

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
        const uint16_t colour = PaletteColour(row + size_t(x) * 3);
        if (!seen[colour]) {
          seen[colour] = true;
          palette.push_back(colour);
        }
      }
    }
    return palette;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

int ZefImgWriter::FindColor(uint16_t colour, const Palette& palette) const {
  for (size_t i = 0; i < palette.size(); ++i) {
    if (palette[i] == colour) return int(i);
  }
  return -1;
}

bool ZefImgWriter::CreatePalettes(const std::vector<cv::Mat>& images,
                                  std::vector<Palette>* palettes,
                                  std::vector<int32_t>* paletteMapping) {
  if (paletteMapping == nullptr || !paletteMapping->empty()) {
    SetError("error: PaletteMapping not correct");
    return false;
  }
  if (palettes == nullptr || !palettes->empty()) {
    SetError("error: Palettes not correct");
    return false;
  }
  try {
    palettes->reserve(images.size());
    paletteMapping->reserve(images.size());
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (size_t n = 0; n < images.size(); ++n) {
    std::optional<Palette> palette = BuildPalette(images[n]);
    if (!palette) return false;
    palettes->push_back(std::move(*palette));
    paletteMapping->push_back(int32_t(n));
  }
  return true;
}

bool ZefImgWriter::CreateIndexImages(const std::vector<cv::Mat>& images,
                                     const std::vector<Palette>* palettes,
                                     const std::vector<int32_t>* paletteMapping,
                                     std::vector<cv::Mat>* indexImages) {
  if (paletteMapping == nullptr || paletteMapping->size() != images.size()) {
    SetError("error: PaletteMapping not correct");
    return false;
  }
  if (palettes == nullptr || palettes->empty()) {
    SetError("error: Palettes not correct");
    return false;
  }
  for (size_t n = 0; n < images.size(); ++n) {
    const int32_t mapping = (*paletteMapping)[n];
    if (mapping < 0 || size_t(mapping) >= palettes->size()) {
      SetError("error: entry of PaletteMapping greater than Palettes->size() (or < 0)");
      return false;
    }
    std::optional<cv::Mat> indexImage =
        CreateIndexImage(images[n], (*palettes)[size_t(mapping)], int(n));
    if (!indexImage) {
      indexImages->clear();
      return false;
    }
    indexImages->push_back(std::move(*indexImage));
  }
  return true;
}

std::optional<cv::Mat> ZefImgWriter::CreateIndexImage(const cv::Mat& image, const Palette& palette,
                                       int imageNumber) {
  if (!IsSourceLayout(image)) {
    SetError(FormatMessage("img %d: wrong cvImage (depth/nChannels)", imageNumber));
    return std::nullopt;
  }
  const size_t limit = PaletteLimit(header_.alphaBits);
  if (limit != 0 && palette.size() > limit) {
    SetError(FormatMessage(PaletteTooBigMessage(header_.alphaBits), int(palette.size()),
                           imageNumber));
    return std::nullopt;
  }
  // Colour to index, first appearance winning, as a scan of the palette gives.
  std::array<uint16_t, kColourTableSize> indexOf;
  indexOf.fill(kNotInPalette);
  for (size_t i = palette.size(); i-- > 0;) {
    if (palette[i] <= kColourMask) indexOf[palette[i]] = uint16_t(i);
  }
  try {
    cv::Mat indexImage(image.rows, image.cols, CV_8UC1);
    for (int y = 0; y < image.rows; ++y) {
      const uint8_t* row = image.ptr<uint8_t>(y);
      uint8_t* index = indexImage.ptr<uint8_t>(y);
      // One look-up per stretch of equal pixels.
      for (int x = 0; x < image.cols;) {
        const int end = EndOfSameBgr(row, x, image.cols);
        const uint16_t found = indexOf[PaletteColour(row + size_t(x) * 3)];
        if (found >= kMostIndices) {
          SetError(FormatMessage("error: color not in palette (image %d, paletteColor:%d)",
                                 imageNumber, found));
          return std::nullopt;
        }
        std::memset(index + x, found, size_t(end - x));
        x = end;
      }
    }
    return indexImage;
  } catch (const cv::Exception&) {
    return std::nullopt;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

bool ZefImgWriter::WritePalettes(OutputFile& out, const std::vector<Palette>& palettes) {
  const uint64_t blockStart = out.Tell();
  WritePaletteSpecifications(out, palettes);
  std::vector<uint64_t> dataOffsets;
  dataOffsets.reserve(palettes.size());
  for (const Palette& palette : palettes) {
    dataOffsets.push_back(out.Tell());
    WritePaletteData(out, palette);
  }
  const uint64_t blockEnd = out.Tell();
  if (out.Good()) out.SeekAbsolute(blockStart + kPaletteSpecificationsHead);
  // Each record is written whole again, its other fields unchanged, so
  // that the patch is one stretch of bytes rather than a seek per record.
  for (size_t n = 0; n < palettes.size(); ++n) {
    WritePaletteRecord(out, palettes, n, uint32_t(dataOffsets[n]));
  }
  if (out.Good()) out.SeekAbsolute(blockEnd);
  return true;
}

bool ZefImgWriter::WritePaletteSpecifications(OutputFile& out,
                                              const std::vector<Palette>& palettes) {
  out.WriteBytes(kPaletteSpecificationsMarker, 2);
  out.WriteU32(uint32_t(palettes.size()));
  for (size_t n = 0; n < palettes.size(); ++n) {
    WritePaletteRecord(out, palettes, n, 0);  // the data offset is filled in later
  }
  return true;
}

void ZefImgWriter::WritePaletteRecord(OutputFile& out, const std::vector<Palette>& palettes,
                                      size_t n, uint32_t dataOffset) {
  out.WriteU16(uint16_t(n));
  out.WriteU32(uint32_t(palettes[n].size()));
  out.WriteU32(dataOffset);
}

bool ZefImgWriter::WritePaletteData(OutputFile& out, const Palette& palette) {
  out.WriteBytes(kPaletteDataMarker, 2);
  for (uint16_t colour : palette) out.WriteU16(colour);
  return true;
}

}  // namespace zef

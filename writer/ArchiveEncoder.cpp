// One write: the checks, then every image prepared once (its palette and
// its runs), then the layout, then the bytes front to back.
//
// Sprites code to a small fraction of their pixels, so a prepared image
// keeps its finished image data. One whose data would pass a byte per
// pixel (noise, mostly) keeps only its palette and sizes and is coded
// again, by the same coder, straight into the sink: memory never holds
// more than an index image would.
#include "writer/ArchiveEncoder.h"

#include <memory>
#include <new>
#include <stdexcept>

#include "archive/FormatMessage.h"
#include "writer/ImageCoders.h"
#include "writer/ImageRules.h"
#include "writer/Version4Encoder.h"

namespace zef {

namespace {

const char* PaletteTooBigMessage(uint8_t alphaBits) {
  switch (alphaBits) {
    case 0: return "error: palette too big (palette entries:%d (max 256 without alpha), image %d)";
    case 1: return "error: palette too big (palette entries:%d (max 128 with 1 alpha bit), image %d)";
    default: return "error: palette too big (palette entries:%d (max 64 with 2 alpha bits), image %d)";
  }
}

}  // namespace

std::string SizeLimitText(uint64_t limit) {
  static constexpr struct {
    uint64_t size;
    const char* unit;
  } kUnits[] = {{uint64_t{1} << 30, "GiB"}, {uint64_t{1} << 20, "MiB"}, {uint64_t{1} << 10, "KiB"}};
  for (const auto& unit : kUnits) {
    if (limit != 0 && limit % unit.size == 0) {
      return std::to_string(limit / unit.size) + " " + unit.unit;
    }
  }
  return std::to_string(limit) + " bytes";
}

namespace {

void PutU16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(uint8_t(value));
  out.push_back(uint8_t(value >> 8));
}

void PutU32(std::vector<uint8_t>& out, uint32_t value) {
  for (int b = 0; b < 4; ++b) out.push_back(uint8_t(value >> (8 * b)));
}

template <size_t kSize>
void PutMarker(std::vector<uint8_t>& out, const uint8_t (&marker)[kSize]) {
  out.insert(out.end(), marker, marker + kSize);
}

// What a write keeps of one image between preparing and writing it.
struct PreparedImage {
  std::vector<uint16_t> palette;  // version 3
  std::vector<uint8_t> data;      // the image data, or empty: code again
  uint64_t dataSize = 0;          // bytes of image data, counts included
  uint32_t runs = 0;
  bool maskNotCoded = false;  // a mask that the alpha setting cannot carry
};

// Keeps the coded lines behind room for the image's run count while they
// fit the budget; counts their bytes either way.
class CollectLines {
 public:
  explicit CollectLines(uint64_t budget) : budget_(budget) { data_.assign(kImageEntryCountSize, 0); }
  void operator()(const uint8_t* line, size_t size) {
    size_ += size;
    if (kept_ && data_.size() + size > budget_) {
      kept_ = false;
      std::vector<uint8_t>().swap(data_);
    }
    if (kept_) data_.insert(data_.end(), line, line + size);
  }
  // Moves the image data out (empty when it passed the budget).
  void Finish(uint32_t runs, PreparedImage& image) {
    image.runs = runs;
    image.dataSize = size_;
    if (!kept_) return;
    for (size_t i = 0; i < kImageEntryCountSize; ++i) data_[i] = uint8_t(runs >> (8 * i));
    image.data = std::move(data_);
  }

 private:
  uint64_t budget_;
  uint64_t size_ = kImageEntryCountSize;
  bool kept_ = true;
  std::vector<uint8_t> data_;
};

// Hands coded lines straight to the sink.
struct SinkLines {
  ArchiveSink& sink;
  void operator()(const uint8_t* line, size_t size) { sink.Put(line, size); }
};

const MaskView* MaskOf(const std::vector<MaskView>& masks, size_t n) {
  return masks.empty() || masks[n].data == nullptr ? nullptr : &masks[n];
}

Status CheckViews(const std::vector<ImageView>& images, const std::vector<MaskView>& masks,
                  uint16_t version) {
  Status status = CheckImageCount(images.size(), version);
  if (!status.Ok()) return status;
  if (!masks.empty() && masks.size() != images.size()) return {Error::kBadInput, "nr of masks != nr of bmps.."};
  for (size_t n = 0; n < images.size(); ++n) {
    const ImageView& image = images[n];
    const MaskView* mask = MaskOf(masks, n);
    const char* message = nullptr;
    if (mask != nullptr && mask->width != image.width) {
      message = "img %d: mask and image must have the same width";
    } else if (mask != nullptr && mask->height != image.height) {
      message = "img %d: mask and image must have the same height";
    } else if (image.width < 0 || image.height < 0 ||
               (image.data == nullptr && image.width > 0 && image.height > 0)) {
      message = "img %d: wrong cvImage (depth/nChannels)";
    } else if (image.width > kMaxImageWidth) {
      return {Error::kBadInput, FormatMessage("img %d: maximum width of an image is %d", int(n), kMaxImageWidth)};
    }
    if (message != nullptr) return {Error::kBadInput, FormatMessage(message, int(n))};
  }
  return {};
}

class Encoder {
 public:
  Encoder(const EncoderSettings& settings, const std::vector<ImageView>& images,
          const std::vector<MaskView>& masks)
      : settings_(settings), images_(images), masks_(masks) {}

  Status Run(ArchiveSink& sink) {
    const bool palettes = settings_.version == kVersion3;
    if (palettes) {
      masksCoded_ = codes_.Fill(settings_.header);
      indexOf_ = std::make_unique<IndexTable>();
      indexOf_->fill(kNotInPalette);
    }
    prepared_.resize(images_.size());
    for (size_t n = 0; n < images_.size(); ++n) {
      Status status = palettes ? PreparePalette(n) : PrepareColours(n);
      if (!status.Ok()) return status;
    }
    return Write(sink);
  }

 private:
  Status PreparePalette(size_t n) {
    const ImageView& image = images_[n];
    const MaskView* mask = MaskOf(masks_, n);
    PreparedImage& prepared = prepared_[n];
    // A mask the alpha setting cannot carry fails once the archive is
    // written up to its image; its palette is still written before that.
    prepared.maskNotCoded = mask != nullptr && !masksCoded_ && image.width > 0 && image.height > 0;
    const PixelCodeTable* codes = mask != nullptr && masksCoded_ ? &codes_ : nullptr;
    CollectLines lines(Budget(image));
    const uint32_t runs = CodePaletteImage(image, mask, codes, settings_.swapFlag, *indexOf_,
                                           prepared.palette, line_, lines);
    lines.Finish(runs, prepared);
    for (uint16_t colour : prepared.palette) (*indexOf_)[colour] = kNotInPalette;
    if (PaletteRefused(prepared.palette.size(), settings_.header.alphaBits)) {
      return {Error::kPaletteTooBig, FormatMessage(PaletteTooBigMessage(settings_.header.alphaBits),
                                                   int(prepared.palette.size()), int(n))};
    }
    return {};
  }

  Status PrepareColours(size_t n) {
    CollectLines lines(Budget(images_[n]));
    const uint32_t runs = CodeColourImage(images_[n], MaskOf(masks_, n), ArchiveHeader(),
                                          settings_.swapFlag, line_, lines);
    lines.Finish(runs, prepared_[n]);
    return {};
  }

  // Runs may take at most one byte per pixel, as an index image does.
  static uint64_t Budget(const ImageView& image) {
    return kImageEntryCountSize + uint64_t(image.height) * kLineEntryCountSize +
           uint64_t(image.width) * uint64_t(image.height);
  }

  // An archive without masks says that its values carry no alpha.
  HeaderBytes ArchiveHeader() const {
    HeaderBytes header = settings_.header;
    if (masks_.empty()) header.alphaMode = kAlphaModeNone;
    return header;
  }

  Status Write(ArchiveSink& sink) {
    const bool palettes = settings_.version == kVersion3;
    size_t failAt = images_.size();
    for (size_t n = 0; n < images_.size() && failAt == images_.size(); ++n) {
      if (prepared_[n].maskNotCoded) failAt = n;
    }
    // The layout: every offset and the archive's size.
    uint64_t position = (palettes ? kHeaderSizeV3 : kHeaderSizeV2) + kMarkerSize +
                        uint64_t(images_.size()) * (palettes ? kImageRecordSizeV3 : kImageRecordSizeV2);
    std::vector<uint32_t> paletteOffsets;
    if (palettes) {
      position += kPaletteSpecificationsHead + uint64_t(images_.size()) * kPaletteRecordSize;
      paletteOffsets.reserve(images_.size());
      for (const PreparedImage& image : prepared_) {
        paletteOffsets.push_back(uint32_t(position));
        position += kMarkerSize + uint64_t(image.palette.size()) * kPaletteColourSize;
      }
    }
    const uint64_t frontSize = position;
    std::vector<uint32_t> imageOffsets;
    imageOffsets.reserve(images_.size());
    for (size_t n = 0; n < images_.size(); ++n) {
      // A write that fails on the way leaves each record's placeholder, the
      // image's width, as one that stopped before its offsets were known.
      imageOffsets.push_back(failAt < images_.size() ? uint32_t(images_[n].width) : uint32_t(position));
      position += kMarkerSize + prepared_[n].dataSize;
    }
    if (failAt == images_.size() && position > settings_.sizeLimit) {
      return {Error::kArchiveTooLarge, "ZefImgWriter: Write: archive too large (more than " +
                                           SizeLimitText(settings_.sizeLimit) + ")"};
    }
    if (!sink.Open(position)) {
      return {Error::kCannotOpen, "ZefImgWriter: Write: could not open destination file"};
    }
    const std::vector<uint8_t> front = Front(frontSize, imageOffsets, paletteOffsets);
    sink.Put(front.data(), front.size());
    for (size_t n = 0; n < failAt; ++n) {
      sink.Put(kImageMarker, kMarkerSize);
      WriteImageData(n, sink);
    }
    if (failAt < images_.size()) {
      static constexpr uint8_t kZeroCounts[kImageEntryCountSize + kLineEntryCountSize] = {};
      sink.Put(kImageMarker, kMarkerSize);
      sink.Put(kZeroCounts, sizeof kZeroCounts);
      sink.Finish();
      return {Error::kMaskNotCoded, "AlphaMode not implemented..."};
    }
    if (!sink.Finish()) return {Error::kCannotWrite, "ZefImgWriter: Write: could not write destination file"};
    return {};
  }

  // Header, image table and (version 3) palette block.
  std::vector<uint8_t> Front(uint64_t size, const std::vector<uint32_t>& imageOffsets,
                             const std::vector<uint32_t>& paletteOffsets) const {
    const bool palettes = settings_.version == kVersion3;
    const HeaderBytes header = ArchiveHeader();
    std::vector<uint8_t> out;
    out.reserve(size_t(size));
    PutMarker(out, kFileSignature);
    PutU16(out, settings_.version);
    PutU32(out, uint32_t(images_.size()));
    out.insert(out.end(), {header.channelCount, header.valueSize, header.colourBits, header.alphaBits,
                           header.alphaMode, header.alphaPosition, header.compressionFlag});
    if (palettes) PutU32(out, uint32_t(settings_.startIndex));
    PutMarker(out, kEndOfHeader);
    PutMarker(out, kImageSpecificationsMarker);
    for (size_t n = 0; n < images_.size(); ++n) {
      PutU16(out, uint16_t(n));
      PutU32(out, uint32_t(images_[n].width));
      PutU32(out, uint32_t(images_[n].height));
      if (palettes) PutU16(out, uint16_t(n));  // image n has palette n
      PutU32(out, imageOffsets[n]);
    }
    if (!palettes) return out;
    PutMarker(out, kPaletteSpecificationsMarker);
    PutU32(out, uint32_t(prepared_.size()));
    for (size_t n = 0; n < prepared_.size(); ++n) {
      PutU16(out, uint16_t(n));
      PutU32(out, uint32_t(prepared_[n].palette.size()));
      PutU32(out, paletteOffsets[n]);
    }
    // Decoders read a palette colour in the layout of the alpha position:
    // at the low end the colour sits in bits 15-4, so it is stored there.
    const int colourShift = settings_.header.alphaPosition == kAlphaPositionLow ? 4 : 0;
    for (const PreparedImage& image : prepared_) {
      PutMarker(out, kPaletteDataMarker);
      for (uint16_t colour : image.palette) PutU16(out, uint16_t(colour << colourShift));
    }
    return out;
  }

  void WriteImageData(size_t n, ArchiveSink& sink) {
    PreparedImage& prepared = prepared_[n];
    if (!prepared.data.empty()) {
      sink.Put(prepared.data.data(), prepared.data.size());
      prepared = {};  // no longer needed; keeps peak memory down
      return;
    }
    uint8_t count[kImageEntryCountSize];
    for (size_t i = 0; i < kImageEntryCountSize; ++i) count[i] = uint8_t(prepared.runs >> (8 * i));
    sink.Put(count, sizeof count);
    SinkLines lines{sink};
    if (settings_.version != kVersion3) {
      CodeColourImage(images_[n], MaskOf(masks_, n), ArchiveHeader(), settings_.swapFlag, line_, lines);
      return;
    }
    // Every colour is in the palette already, at the index it had.
    for (size_t i = 0; i < prepared.palette.size(); ++i) (*indexOf_)[prepared.palette[i]] = uint16_t(i);
    const MaskView* mask = MaskOf(masks_, n);
    CodePaletteImage(images_[n], mask, mask != nullptr ? &codes_ : nullptr, settings_.swapFlag, *indexOf_,
                     prepared.palette, line_, lines);
    for (uint16_t colour : prepared.palette) (*indexOf_)[colour] = kNotInPalette;
    prepared = {};
  }

  const EncoderSettings& settings_;
  const std::vector<ImageView>& images_;
  const std::vector<MaskView>& masks_;
  std::vector<PreparedImage> prepared_;
  PixelCodeTable codes_;
  bool masksCoded_ = false;
  std::unique_ptr<IndexTable> indexOf_;
  std::vector<uint8_t> line_;
};

}  // namespace

bool MemorySink::Open(uint64_t size) {
  bytes_.clear();
  bytes_.reserve(size_t(size));
  return true;
}

void MemorySink::Put(const uint8_t* bytes, size_t size) { bytes_.insert(bytes_.end(), bytes, bytes + size); }


Status CheckImageCount(size_t imageCount, uint16_t version) {
  if (imageCount == 0) return {Error::kBadInput, "no images"};
  if (version == kVersion3 && imageCount > kMaxImagesV3) {
    return {Error::kBadInput, FormatMessage("ZefImgWriter: Write: too many images for version 3 (%d, max 65536)",
                                            int(imageCount))};
  }
  if (version == kVersion4 && imageCount > kMaxImagesV4) {
    return {Error::kBadInput, FormatMessage("ZefImgWriter: Write: too many images for version 4 (%zu, max 65536)",
                                            imageCount)};
  }
  return {};
}

Status EncodeViews(const EncoderSettings& settings, const std::vector<ImageView>& images,
                   const std::vector<MaskView>& masks, ArchiveSink& sink) {
  try {
    Status status = CheckViews(images, masks, settings.version);
    if (!status.Ok()) return status;
    if (settings.version == kVersion4) return EncodeViewsV4(settings, images, masks, sink);
    Encoder encoder(settings, images, masks);
    return encoder.Run(sink);
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  return {Error::kOutOfMemory, "out of memory"};
}

}  // namespace zef

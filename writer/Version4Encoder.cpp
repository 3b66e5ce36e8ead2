// Version 4: every image is normalised and coded into its block as it
// comes, so that a refusal comes before any byte is written and the
// layout is known when the sink opens.
#include "writer/Version4Encoder.h"

#include <new>
#include <stdexcept>

#include "archive/FormatMessage.h"
#include "writer/IndexedImages.h"
#include "writer/LineOps.h"

namespace zef {

namespace {

void PutU16(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(uint8_t(value));
  out.push_back(uint8_t(value >> 8));
}

void PutU32(std::vector<uint8_t>& out, uint32_t value) {
  PutU16(out, value & 0xFFFF);
  PutU16(out, value >> 16);
}

class Version4Writer {
 public:
  explicit Version4Writer(const EncoderSettings& settings, size_t imageCount) : settings_(settings) {
    size_ = kHeaderSizeV4 + kMarkerSize + uint64_t(imageCount) * kImageRecordSizeV4;
    blocks_.reserve(imageCount);
  }

  // Codes a normalised image into its block.
  Status Add(const IndexedImage& image) {
    const int indexBits = IndexBitsFor(image.palette.size());
    std::vector<uint8_t> block = {kImageMarker[0], kImageMarker[1], uint8_t(indexBits),
                                  uint8_t(image.palette.size() - 1)};
    for (const PaletteEntry& entry : image.palette) {
      block.insert(block.end(), {entry.red, entry.green, entry.blue, entry.alpha});
    }
    const size_t width = size_t(image.width);
    for (size_t y = 0; y < size_t(image.height); ++y) {
      coder_.Code(image.indices.data() + y * width, uint32_t(width), indexBits, block);
    }
    size_ += block.size();
    if (size_ > settings_.sizeLimit) return TooLarge();
    block.shrink_to_fit();
    blocks_.push_back({uint32_t(image.width), uint32_t(image.height), std::move(block)});
    return {};
  }

  Status Write(ArchiveSink& sink) {
    if (size_ > settings_.sizeLimit) return TooLarge();
    if (!sink.Open(size_)) return {Error::kCannotOpen, "ZefImgWriter: Write: could not open destination file"};
    std::vector<uint8_t> front;
    front.insert(front.end(), std::begin(kFileSignature), std::end(kFileSignature));
    PutU16(front, kVersion4);
    PutU32(front, uint32_t(blocks_.size()));
    front.insert(front.end(), std::begin(kV4HeaderBytes), std::end(kV4HeaderBytes));
    PutU32(front, uint32_t(settings_.startIndex));
    front.insert(front.end(), std::begin(kEndOfHeader), std::end(kEndOfHeader));
    front.insert(front.end(), std::begin(kImageSpecificationsMarker), std::end(kImageSpecificationsMarker));
    uint64_t offset = kHeaderSizeV4 + kMarkerSize + uint64_t(blocks_.size()) * kImageRecordSizeV4;
    for (size_t n = 0; n < blocks_.size(); ++n) {
      PutU16(front, uint32_t(n & 0xFFFF));
      PutU32(front, blocks_[n].width);
      PutU32(front, blocks_[n].height);
      PutU32(front, uint32_t(offset));
      offset += blocks_[n].bytes.size();
    }
    sink.Put(front.data(), front.size());
    for (Block& block : blocks_) {
      sink.Put(block.bytes.data(), block.bytes.size());
      std::vector<uint8_t>().swap(block.bytes);  // keeps peak memory down
    }
    if (!sink.Finish()) return {Error::kCannotWrite, "ZefImgWriter: Write: could not write destination file"};
    return {};
  }

 private:
  struct Block {
    uint32_t width, height;
    std::vector<uint8_t> bytes;  // from the image marker on
  };

  Status TooLarge() const {
    return {Error::kArchiveTooLarge,
            "ZefImgWriter: Write: archive too large (more than " + SizeLimitText(settings_.sizeLimit) + ")"};
  }

  const EncoderSettings& settings_;
  uint64_t size_ = 0;
  std::vector<Block> blocks_;
  LineOpCoder coder_;
};

}  // namespace

Status EncodeViewsV4(const EncoderSettings& settings, const std::vector<ImageView>& images,
                     const std::vector<MaskView>& masks, ArchiveSink& sink) {
  Version4Writer writer(settings, images.size());
  IndexedImage image;
  for (size_t n = 0; n < images.size(); ++n) {
    const MaskView* mask = masks.empty() || masks[n].data == nullptr ? nullptr : &masks[n];
    Status status = IndexedOfView(images[n], mask, int(n), image);
    if (status.Ok()) status = NormaliseIndexed(image, int(n), image);
    if (status.Ok()) status = writer.Add(image);
    if (!status.Ok()) return status;
  }
  return writer.Write(sink);
}

EncodeResult EncodeIndexed(const std::vector<IndexedImage>& images, const Options& options) {
  EncodeResult result;
  try {
    Options version4 = options;
    version4.version = kVersion4;
    const std::optional<EncoderSettings> settings = SettingsOf(version4, &result);
    if (!settings) return result;
    static_cast<Status&>(result) = CheckImageCount(images.size(), kVersion4);
    if (!result.Ok()) return result;
    Version4Writer writer(*settings, images.size());
    IndexedImage normalised;
    for (size_t n = 0; n < images.size(); ++n) {
      static_cast<Status&>(result) = NormaliseIndexed(images[n], int(n), normalised);
      if (result.Ok()) static_cast<Status&>(result) = writer.Add(normalised);
      if (!result.Ok()) return result;
    }
    MemorySink sink;
    static_cast<Status&>(result) = writer.Write(sink);
    if (result.Ok()) result.bytes = std::move(sink.Bytes());
    return result;
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  result.bytes.clear();
  static_cast<Status&>(result) = {Error::kOutOfMemory, "out of memory"};
  return result;
}

}  // namespace zef

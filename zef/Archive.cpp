#include "zef/Archive.h"

#include <algorithm>
#include <climits>
#include <filesystem>
#include <new>

#include "archive/ArchiveDecoder.h"
#include "archive/ArchiveTables.h"
#include "archive/FileBytes.h"
#include "archive/ZefFormat.h"
#include "archive/ZefDecodeMat.h"

namespace zef::tool {

namespace {

constexpr int kFullAlphaBits = 8;
constexpr uint64_t kFirstImageRecordV2 = kHeaderSizeV2 + kMarkerSize;
constexpr uint64_t kFirstImageRecordV3 = kHeaderSizeV3 + kMarkerSize;

// Image records and palette sizes, read in place from an archive the
// reader has accepted.
void ReadTables(const std::vector<uint8_t>& bytes, ArchiveSummary& summary) {
  const uint8_t* data = bytes.data();
  const size_t size = bytes.size();
  const uint32_t count = uint32_t(summary.images.size());
  if (summary.version == kVersion1) {
    summary.images[0].dataBytes = size > kHeaderSizeV1 ? size - kHeaderSizeV1 : 0;
    return;
  }
  // Version 4 records are laid out as version 2's, after a 23-byte header.
  static_assert(kRecordDataOffsetAtV4 == kRecordDataOffsetAtV2 && kHeaderSizeV4 == kHeaderSizeV3);
  const bool v3 = summary.version == kVersion3;
  const bool v4 = summary.version == kVersion4;
  const ImageSpecifications records(
      RecordTable(data, size, v3 || v4 ? kFirstImageRecordV3 : kFirstImageRecordV2, count,
                  v3 ? kImageRecordSizeV3 : v4 ? kImageRecordSizeV4 : kImageRecordSizeV2),
      v3);
  std::vector<uint64_t> offsets;
  for (uint32_t n = 0; n < count; ++n) offsets.push_back(records.DataOffset(n));
  std::vector<uint64_t> sorted = offsets;
  sorted.push_back(size);
  std::sort(sorted.begin(), sorted.end());
  for (uint32_t n = 0; n < count; ++n) {
    const uint64_t next = *std::upper_bound(sorted.begin(), sorted.end() - 1, offsets[n]);
    summary.images[n].dataBytes = next > offsets[n] ? next - offsets[n] : 0;
  }
  if (!v3) return;
  const uint64_t paletteBlock = kFirstImageRecordV3 + uint64_t(count) * kImageRecordSizeV3;
  const uint32_t paletteCount = FieldAt(data, size, paletteBlock + kMarkerSize, 4);
  const PaletteSpecifications palettes(RecordTable(
      data, size, paletteBlock + kPaletteSpecificationsHead, paletteCount, kPaletteRecordSize));
  for (uint32_t n = 0; n < count; ++n) {
    const uint16_t palette = records.PaletteIndex(n);
    if (palette < palettes.Count()) summary.images[n].paletteColours = palettes.EntryCount(palette);
  }
}

// Room for one image at a time: asked for the next image, it hands the
// finished one on and reuses nothing of it.
class OneAtATimeStore : public ImageStore {
 public:
  OneAtATimeStore(int alphaBits, const ImageSink& take) : alphaBits_(alphaBits), take_(take) {}

  Buffers NewImage(uint32_t width, uint32_t height, bool alpha) override {
    if (!HandOn()) return {};
    // The image library indexes rows and row bytes with int.
    if (height > uint32_t{INT_MAX} || width > uint32_t{INT_MAX / 3}) return {};
    try {
      image_.bgr.create(int(height), int(width), CV_8UC3);
      if (alpha) image_.alpha.create(int(height), int(width), CV_8UC1);
      pending_ = true;
      return {image_.bgr.data, alpha ? image_.alpha.data : nullptr};
    } catch (const cv::Exception&) {
    } catch (const std::bad_alloc&) {
    }
    image_ = {};
    outOfMemory_ = true;
    return {};
  }
  // The last image, once the decode has finished it.
  bool HandOn() {
    if (!pending_) return error_.empty();
    pending_ = false;
    // The decoder leaves alpha codes; the picture wants 8-bit alpha.
    if (!image_.alpha.empty()) {
      image_.alpha.forEach<uint8_t>([this](uint8_t& code, const int*) { code = Alpha8(code, uint8_t(alphaBits_)); });
    }
    try {
      const bool taken = take_(handedOn_++, image_, &error_);
      image_ = {};
      return taken;
    } catch (const std::bad_alloc&) {
      error_ = "out of memory";
    } catch (const cv::Exception& exception) {
      error_ = exception.err;
    }
    image_ = {};
    return false;
  }
  bool OutOfMemory() const { return outOfMemory_; }
  const std::string& Error() const { return error_; }

 private:
  int alphaBits_;
  const ImageSink& take_;
  DecodedImage image_;
  bool pending_ = false;
  bool outOfMemory_ = false;
  size_t handedOn_ = 0;
  std::string error_;  // from the sink
};

}  // namespace

bool DecodeEachImage(const std::vector<uint8_t>& bytes, int alphaBits, uint64_t maxImageBytes,
                     const ImageSink& take, std::string* error) {
  OneAtATimeStore store(alphaBits, take);
  ArchiveDecoder decoder;
  decoder.SetLimits({maxImageBytes / (alphaBits > 0 ? 4 : 3), 0});
  decoder.SetDecodeAlpha(alphaBits > 0);
  std::vector<zef::DecodedImage> images;
  if (decoder.DecodeMemory(bytes.data(), bytes.size(), store, images) && store.HandOn()) return true;
  if (!store.Error().empty()) {
    *error = store.Error();
  } else if (store.OutOfMemory()) {
    *error = "out of memory";
  } else {
    *error = decoder.GetError();
    if (error->empty()) *error = "out of memory";
  }
  return false;
}

std::optional<ArchiveContent> OpenArchive(const std::vector<uint8_t>& bytes, bool decode,
                                          std::string* error) {
  try {
    Options options;
    options.decodeAlpha = decode;
    // A listing checks every image but holds none of them.
    options.keepPixels = decode;
    MatDecodeResult decoded = DecodeMats(bytes.data(), bytes.size(), options);
    if (!decoded.Ok()) {
      *error = decoded.message;
      return std::nullopt;
    }
    ArchiveContent content;
    ArchiveSummary& summary = content.summary;
    summary.version = decoded.info.version;
    summary.startIndex = decoded.info.startIndex;
    summary.alphaBits = decoded.info.alphaBits;
    summary.fileBytes = bytes.size();
    for (const zef::DecodedImage& image : decoded.images) {
      std::optional<uint32_t> paletteColours;
      if (summary.version >= kVersion3) paletteColours = image.paletteColours;
      summary.images.push_back({image.number, image.width, image.height, paletteColours, image.dataBytes});
    }
    if (!decode) return content;
    for (size_t n = 0; n < decoded.images.size(); ++n) {
      DecodedImage image{decoded.mats[n], {}};
      const std::vector<uint8_t>& codes = decoded.images[n].alphaCodes;
      if (summary.alphaBits > 0 && !codes.empty()) {
        image.alpha = cv::Mat(image.bgr.size(), CV_8UC1);
        uint8_t* alpha = image.alpha.ptr();
        if (summary.alphaBits == kFullAlphaBits) {
          std::copy(codes.begin(), codes.end(), alpha);  // codes are alpha values already
        } else {
          for (size_t i = 0; i < codes.size(); ++i) alpha[i] = Alpha8(codes[i], uint8_t(summary.alphaBits));
        }
      }
      content.images.push_back(std::move(image));
    }
    return content;
  } catch (const std::bad_alloc&) {
    *error = "out of memory";
  } catch (const cv::Exception& exception) {
    *error = exception.err;
  }
  return std::nullopt;
}

std::vector<uint64_t> WrittenImageBytes(const std::vector<uint8_t>& bytes, uint32_t count, int version) {
  ArchiveSummary summary;
  summary.version = version;
  summary.images.resize(count);
  ReadTables(bytes, summary);
  std::vector<uint64_t> sizes;
  for (const ArchiveImage& image : summary.images) sizes.push_back(image.dataBytes);
  return sizes;
}

std::optional<ArchiveContent> OpenArchiveFile(const std::string& fileName, bool decode,
                                              std::string* error, std::vector<uint8_t>* bytes) {
  std::error_code failed;
  if (std::filesystem::is_directory(fileName, failed)) {
    *error = fileName + ": is a folder, not an archive";
    return std::nullopt;
  }
  std::optional<std::vector<uint8_t>> read;
  try {
    read = ReadArchiveBytes(fileName);
  } catch (const std::bad_alloc&) {
    *error = fileName + ": out of memory";
    return std::nullopt;
  }
  if (!read) {
    *error = fileName + ": cannot open the file";
    return std::nullopt;
  }
  std::optional<ArchiveContent> content = OpenArchive(*read, decode, error);
  if (!content) {
    *error = fileName + ": " + *error;
  } else if (bytes != nullptr) {
    *bytes = std::move(*read);
  }
  return content;
}

}  // namespace zef::tool

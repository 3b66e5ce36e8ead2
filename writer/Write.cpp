// Write: checks, then header, image table, palette block (version 3) and
// the image data, with the table's offsets filled in last.
#include "archive/FormatMessage.h"
#include "writer/ZefImgWriter.h"

namespace zef {

namespace {

const cv::Mat kNoMask;

const cv::Mat& MaskOf(const std::vector<cv::Mat>& masks, size_t n) {
  return masks.empty() ? kNoMask : masks[n];
}

// An archive without masks must say that its values carry no alpha; the
// writer's own setting is put back afterwards so that a later Write with
// masks labels its archive correctly.
class AlphaModeForWrite {
 public:
  AlphaModeForWrite(HeaderBytes& header, bool hasMasks) : header_(header), saved_(header.alphaMode) {
    if (!hasMasks) header_.alphaMode = kAlphaModeNone;
  }
  ~AlphaModeForWrite() { header_.alphaMode = saved_; }
  AlphaModeForWrite(const AlphaModeForWrite&) = delete;
  AlphaModeForWrite& operator=(const AlphaModeForWrite&) = delete;

 private:
  HeaderBytes& header_;
  uint8_t saved_;
};

}  // namespace

bool ZefImgWriter::Write(const std::string& fileName, std::vector<cv::Mat> images,
                         std::vector<cv::Mat> masks) {
  if (images.empty()) {
    SetError("no images");
    return false;
  }
  try {
    return version_ == kVersion3 ? WriteVersion3(fileName, images, masks)
                                 : WriteVersion2(fileName, images, masks);
  } catch (const cv::Exception&) {
    SetError("ZefImgWriter: Write: could not write destination file");
  } catch (const std::bad_alloc&) {
    SetError("ZefImgWriter: Write: could not write destination file");
  }
  return false;
}

bool ZefImgWriter::WriteVersion2(const std::string& fileName, const std::vector<cv::Mat>& images,
                                 const std::vector<cv::Mat>& masks) {
  if (!CheckImages(images, masks)) return false;
  AlphaModeForWrite alphaMode(header_, !masks.empty());
  OutputFile out;
  if (!OpenDestination(out, fileName)) return false;
  WriteHeader(out, images);
  const uint64_t headerEnd = out.Tell();
  WriteImageSpecifications(out, images, nullptr);
  std::vector<uint64_t> offsets;
  offsets.reserve(images.size());
  for (size_t n = 0; n < images.size() && out.Good(); ++n) {
    offsets.push_back(out.Tell());
    out.WriteBytes(kImageMarker, 2);
    WriteColorImage(images[n], MaskOf(masks, n), out);
  }
  PatchImageOffsets(out, headerEnd, images, nullptr, offsets);
  return FinishDestination(out);
}

bool ZefImgWriter::WriteVersion3(const std::string& fileName, const std::vector<cv::Mat>& images,
                                 const std::vector<cv::Mat>& masks) {
  if (images.size() > kMaxImagesV3) {
    SetError(FormatMessage("ZefImgWriter: Write: too many images for version 3 (%d, max 65536)",
                           int(images.size())));
    return false;
  }
  if (!CheckImages(images, masks)) return false;
  AlphaModeForWrite alphaMode(header_, !masks.empty());
  std::vector<PreparedImage> prepared;
  if (!PrepareImages(images, masks, &prepared)) return false;
  std::vector<Palette> palettes;
  std::vector<int32_t> paletteMapping;
  palettes.reserve(prepared.size());
  paletteMapping.reserve(prepared.size());
  for (size_t n = 0; n < prepared.size(); ++n) {
    palettes.push_back(std::move(prepared[n].palette));
    paletteMapping.push_back(int32_t(n));
  }
  OutputFile out;
  if (!OpenDestination(out, fileName)) return false;
  WriteHeader(out, images);
  const uint64_t headerEnd = out.Tell();
  if (!WriteImageSpecifications(out, images, &paletteMapping)) return false;
  WritePalettes(out, palettes);
  std::vector<uint64_t> offsets;
  offsets.reserve(images.size());
  for (size_t n = 0; n < prepared.size() && out.Good(); ++n) {
    offsets.push_back(out.Tell());
    out.WriteBytes(kImageMarker, 2);
    PreparedImage& image = prepared[n];
    if (!image.data.empty()) {
      out.WriteBytes(image.data.data(), image.data.size());
    } else if (!WritePaletteImage(image.indexImage, MaskOf(masks, n), out)) {
      return false;
    }
    image = {};  // no longer needed; keeps peak memory down
  }
  PatchImageOffsets(out, headerEnd, images, &paletteMapping, offsets);
  return FinishDestination(out);
}

bool ZefImgWriter::OpenDestination(OutputFile& out, const std::string& fileName) {
  if (!out.Open(fileName, sizeLimit_)) {
    SetError("ZefImgWriter: Write: could not open destination file");
    return false;
  }
  return true;
}

void ZefImgWriter::PatchImageOffsets(OutputFile& out, uint64_t headerEnd,
                                     const std::vector<cv::Mat>& images,
                                     const std::vector<int32_t>* paletteMapping,
                                     const std::vector<uint64_t>& offsets) {
  if (out.Good()) out.SeekAbsolute(headerEnd + 2);  // behind the table's marker
  // Each record is written whole again, its other fields unchanged, so
  // that the patch is one stretch of bytes rather than a seek per record.
  for (size_t n = 0; n < offsets.size(); ++n) {
    WriteImageRecord(out, images, paletteMapping, n, uint32_t(offsets[n]));
  }
}

bool ZefImgWriter::FinishDestination(OutputFile& out) {
  const bool written = out.Close();
  if (out.TooLarge()) {
    SetError("ZefImgWriter: Write: archive too large (more than 4 GiB)");
    return false;
  }
  if (!written) {
    SetError("ZefImgWriter: Write: could not write destination file");
    return false;
  }
  return true;
}

bool ZefImgWriter::WriteHeader(OutputFile& out, const std::vector<cv::Mat>& images) {
  out.WriteBytes(kFileSignature, 3);
  out.WriteU16(version_);
  out.WriteU32(uint32_t(images.size()));
  out.WriteU8(header_.channelCount);
  out.WriteU8(header_.valueSize);
  out.WriteU8(header_.colourBits);
  out.WriteU8(header_.alphaBits);
  out.WriteU8(header_.alphaMode);
  out.WriteU8(header_.alphaPosition);
  out.WriteU8(header_.compressionFlag);
  if (version_ == kVersion3) out.WriteU32(uint32_t(startIndex_));
  out.WriteBytes(kEndOfHeader, 3);
  return true;
}

bool ZefImgWriter::WriteImageSpecifications(OutputFile& out, const std::vector<cv::Mat>& images,
                                            const std::vector<int32_t>* paletteMapping) {
  if (version_ == kVersion3 && (paletteMapping == nullptr || paletteMapping->size() != images.size())) {
    SetError("WriteImageSpecifications: no (or uncorrect) palette information for version3 "
             "specifications");
    return false;
  }
  out.WriteBytes(kImageSpecificationsMarker, 2);
  for (size_t n = 0; n < images.size(); ++n) {
    // The data offset holds the width until Write patches it.
    WriteImageRecord(out, images, paletteMapping, n, uint32_t(images[n].cols));
  }
  return true;
}

void ZefImgWriter::WriteImageRecord(OutputFile& out, const std::vector<cv::Mat>& images,
                                    const std::vector<int32_t>* paletteMapping, size_t n,
                                    uint32_t dataOffset) {
  out.WriteU16(uint16_t(n));
  out.WriteU32(uint32_t(images[n].cols));
  out.WriteU32(uint32_t(images[n].rows));
  if (version_ == kVersion3) out.WriteU16(uint16_t((*paletteMapping)[n]));
  out.WriteU32(dataOffset);
}

}  // namespace zef

// The decoder behind Decode, DecodeMats and ZefImgReader: the steps of a
// read, each reading on from the buffer's position with the rules of a
// binary input stream (see InputBuffer), and the image data decoders,
// which write into room that an ImageStore gives.
//
// No header field alone makes it allocate or loop: tables are read in
// place, and an image is made only when the rest of the bytes can hold
// its data and the caller's limits allow it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/ArchiveTables.h"
#include "archive/InputBuffer.h"
#include "archive/ZefDecode.h"
#include "archive/ZefFormat.h"

namespace zef {

// Whether the caller of ReadImageSpecifications takes the palette indices.
enum class PaletteIndices { kWithout, kWith };

// Room for decoded images.
class ImageStore {
 public:
  struct Buffers {
    uint8_t* pixels = nullptr;  // height rows of width * 3 bytes, one after another
    uint8_t* alpha = nullptr;   // width * height alpha codes, when asked for
  };
  virtual ~ImageStore() = default;
  // Null pixels when the image cannot be made; never throws.
  virtual Buffers NewImage(uint32_t width, uint32_t height, bool alpha) = 0;
  // False for a store that only has images checked: they are read through
  // without being decoded into memory, and NewImage is never asked.
  virtual bool KeepsPixels() const { return true; }
};

class ArchiveDecoder {
 public:
  // A whole archive into the store; per image its description (pixels
  // stay in the store). False with the message pending on failure.
  bool DecodeMemory(const uint8_t* data, size_t size, ImageStore& store,
                    std::vector<DecodedImage>& images);
  bool DecodeFile(const std::string& fileName, ImageStore& store, std::vector<DecodedImage>& images);

  void SetLimits(const DecodeLimits& limits) { limits_ = limits; }
  void SetDecodeAlpha(bool decodeAlpha) { decodeAlpha_ = decodeAlpha; }
  // Archives of a later version are "wrong version"; ZefImgReader reads up
  // to version 3 only.
  void SetNewestVersion(int version) { newestVersion_ = version; }
  // What the last header read said.
  ArchiveInfo Info() const;

  std::string GetError();
  const std::string& PendingError() const { return error_; }
  // The code of the pending message.
  Error ErrorCode() const;
  // Records the message; returns false so that steps can `return Fail(...)`.
  bool Fail(const char* message);

  int Version() const { return version_; }
  void SetVersion(int version) { version_ = version; }
  const HeaderBytes& Header() const { return header_; }
  uint32_t StartIndex() const { return startIndex_; }
  uint32_t ImageCount() const { return imageCount_; }
  uint32_t Width() const { return width_; }
  uint32_t Height() const { return height_; }

  // --- steps of a read ---
  bool ReadHeaderV1(InputBuffer& in);
  bool ReadHeader(InputBuffer& in);
  bool ReadImageSpecifications(InputBuffer& in, ImageSpecifications& specifications,
                               PaletteIndices paletteIndices);
  bool ReadPalettes(InputBuffer& in, PaletteList* palettes);
  bool ReadPaletteSpecifications(InputBuffer& in, PaletteSpecifications& specifications);
  bool ReadPaletteData(InputBuffer& in, PaletteColours& palette, uint32_t entryCount);

  // --- image data decoders: one image into the store, or false ---
  bool ReadPaletteImage(uint32_t width, uint32_t height, uint8_t alphaPosition, uint8_t alphaMode,
                        uint8_t alphaBits, InputBuffer& in, const PaletteColours& palette,
                        ImageStore& store, bool alpha = false);
  bool ReadColorImage(uint32_t width, uint32_t height, uint8_t alphaPosition, InputBuffer& in,
                      ImageStore& store, bool alpha = false);
  bool ReadColorImageRaw(uint32_t width, uint32_t height, uint8_t alphaPosition, InputBuffer& in,
                         ImageStore& store, bool alpha = false);

 private:
  bool DecodeArchive(InputBuffer& in, ImageStore& store, std::vector<DecodedImage>& images);
  bool ReadVersion1(InputBuffer& in, ImageStore& store, std::vector<DecodedImage>& images);
  bool ReadVersion2(InputBuffer& in, ImageStore& store, std::vector<DecodedImage>& images);
  bool ReadVersion3(InputBuffer& in, ImageStore& store, std::vector<DecodedImage>& images);
  bool ReadVersion4(InputBuffer& in, ImageStore& store, std::vector<DecodedImage>& images);
  // One version 4 image block after its marker; its entry count in `entries`.
  bool ReadIndexedImage(uint32_t width, uint32_t height, InputBuffer& in, ImageStore& store, bool alpha,
                        uint32_t& entries);
  // True when the stream stands at the image's offset, at an image marker.
  bool AtImage(InputBuffer& in, uint32_t dataOffset);
  // False, with "image too large" pending, when the image passes a limit.
  bool WithinLimits(uint32_t width, uint32_t height);
  // Bits of the alpha codes decoding gives, by the header.
  uint8_t AlphaBits() const;
  bool ReadColourWords(uint32_t width, uint32_t height, InputBuffer& in, ImageStore& store);
  template <typename Runs>
  bool ReadRuns(Runs& runs, uint32_t width, uint32_t height, InputBuffer& in, ImageStore& store,
                bool alpha);

  std::string error_;
  // Blue first and red third in every decoded pixel; never changed.
  const bool blueFirst_ = true;
  int version_ = -1;
  HeaderBytes header_ = {255, 255, 255, 255, 255, 255, 255};
  uint32_t startIndex_ = 0;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  uint32_t imageCount_ = 0;
  uint64_t fileSize_ = 0;
  DecodeLimits limits_;
  bool decodeAlpha_ = true;
  int newestVersion_ = kVersion4;
  uint64_t decodedBytes_ = 0;  // of the read under way, for the limit
};

}  // namespace zef

// Version 4: the archive flow (header, records, then each image at its
// offset) and the image block, a palette of RGBA entries and lines of
// ops. A line is decoded from its own bytes alone; an image is made only
// when the rest of the bytes can hold its lines (a byte per 64 pixels at
// least) and the caller's limits allow it, so a tiny file that announces a
// huge image fails as too short, as in the other versions.
#include <cstring>

#include "archive/ArchiveDecoder.h"
#include "archive/ReaderMessages.h"

namespace zef {

using namespace reader_messages;

namespace {

// The entries as decoded pixels: blue, green, red, then the alpha apart.
struct EntryTable {
  uint8_t bgr[kV4MaxEntries][3];
  uint8_t alpha[kV4MaxEntries];
  uint32_t count;
};

// The checks of the lines, in their order, and with kWrite the pixels.
// Null when the lines are sound, else the message; `next` ends after the
// bytes read.
template <bool kWrite>
const char* DecodeLines(const uint8_t*& next, const uint8_t* end, uint32_t width, uint32_t height,
                        uint32_t indexBits, const EntryTable& entries, const ImageStore::Buffers* image) {
  const uint32_t indexMask = (1u << indexBits) - 1;
  const uint8_t* p = next;
  const char* message = nullptr;
  for (uint32_t y = 0; y < height && message == nullptr; ++y) {
    uint8_t* row = kWrite ? image->pixels + size_t(y) * width * 3 : nullptr;
    uint8_t* alphaRow = kWrite && image->alpha != nullptr ? image->alpha + size_t(y) * width : nullptr;
    for (uint32_t x = 0; x < width;) {
      if (p == end) {
        message = kTooShort;
        break;
      }
      const uint8_t op = *p++;
      const uint32_t count = op < kV4OpRun ? uint32_t(op) + 1 : uint32_t(op & kV4RunLengthMask) + 1;
      if (count > width - x) {
        message = kOpPastLine;
        break;
      }
      if (op < kV4OpRun) {
        const uint32_t bytes = V4LiteralBytes(count, indexBits);
        if (uint64_t(end - p) < bytes) {
          message = kTooShort;
          break;
        }
        uint32_t pending = 0, pendingBits = 0;
        const uint8_t* q = p;
        for (uint32_t n = 0; n < count; ++n) {
          if (pendingBits < indexBits) {
            pending = pending << 8 | *q++;
            pendingBits += 8;
          }
          pendingBits -= indexBits;
          const uint32_t index = (pending >> pendingBits) & indexMask;
          if (index >= entries.count) {
            message = kIndexOutsidePalette;
            break;
          }
          if constexpr (kWrite) {
            std::memcpy(row + size_t(x + n) * 3, entries.bgr[index], 3);
            if (alphaRow != nullptr) alphaRow[x + n] = entries.alpha[index];
          }
        }
        if (message != nullptr) break;
        p += bytes;
      } else {
        uint32_t index = 0;
        if (op < kV4OpRunZero) {
          if (p == end) {
            message = kTooShort;
            break;
          }
          index = *p++;
          if (index >= entries.count) {
            message = kIndexOutsidePalette;
            break;
          }
        }
        if constexpr (kWrite) {
          uint8_t* pixel = row + size_t(x) * 3;
          for (uint32_t n = 0; n < count; ++n, pixel += 3) std::memcpy(pixel, entries.bgr[index], 3);
          if (alphaRow != nullptr) std::memset(alphaRow + x, entries.alpha[index], count);
        }
      }
      x += count;
    }
  }
  next = p;
  return message;
}

}  // namespace

bool ArchiveDecoder::ReadVersion4(InputBuffer& in, ImageStore& store, std::vector<DecodedImage>& images) {
  ImageSpecifications specifications;
  if (!ReadHeader(in)) return false;
  if (imageCount_ > kMaxImagesV4) return Fail(kWrongHeader);
  if (!ReadImageSpecifications(in, specifications, PaletteIndices::kWithout)) return false;
  for (uint32_t i = 0; i < specifications.Count(); ++i) {
    const uint32_t offset = specifications.DataOffset(i);
    if (!AtImage(in, offset)) return Fail(kWrongImageData);
    const uint32_t width = specifications.Width(i), height = specifications.Height(i);
    if (width == 0 || width > uint32_t(kMaxImageWidth) || height == 0) return Fail(kWrongImageData);
    uint32_t entries = 0;
    if (!ReadIndexedImage(width, height, in, store, decodeAlpha_, entries)) return false;
    images.push_back({startIndex_ + i, width, height, entries, in.Position() - offset, {}, {}});
  }
  return true;
}

bool ArchiveDecoder::ReadIndexedImage(uint32_t width, uint32_t height, InputBuffer& in, ImageStore& store,
                                      bool alpha, uint32_t& entryCount) {
  const uint8_t* head = in.Take(kV4ImageHead);
  if (head == nullptr) return Fail(kTooShort);
  const uint32_t indexBits = head[0];
  if (indexBits < 1 || indexBits > uint32_t(kV4MaxIndexBits)) return Fail(kIndexBitsNotValid);
  entryCount = uint32_t(head[1]) + 1;
  if (entryCount > (1u << indexBits)) return Fail(kEntriesPastIndexBits);
  const uint8_t* stored = in.Take(size_t(entryCount) * kV4EntrySize);
  if (stored == nullptr) return Fail(kTooShort);
  EntryTable entries;
  entries.count = entryCount;
  for (uint32_t n = 0; n < entryCount; ++n, stored += kV4EntrySize) {
    entries.bgr[n][0] = stored[2];
    entries.bgr[n][1] = stored[1];
    entries.bgr[n][2] = stored[0];
    entries.alpha[n] = stored[3];
  }
  const uint8_t* next = in.Data() + in.Position();
  const uint8_t* end = next + in.Remaining();
  const auto checkOnly = [&]() {
    const uint8_t* start = next;
    const char* message = DecodeLines<false>(next, end, width, height, indexBits, entries, nullptr);
    in.Skip(uint64_t(next - start));
    return message;
  };
  if (in.Remaining() / LeastV4LineBytes(width) < height) {
    const char* message = checkOnly();
    return Fail(message != nullptr ? message : kTooShort);
  }
  if (!WithinLimits(width, height)) return false;
  if (!store.KeepsPixels()) {
    const char* message = checkOnly();
    return message == nullptr || Fail(message);
  }
  const ImageStore::Buffers image = store.NewImage(width, height, alpha);
  if (image.pixels == nullptr) {
    const char* message = checkOnly();
    return Fail(message != nullptr ? message : kImageTooLarge);
  }
  const uint8_t* start = next;
  const char* message = DecodeLines<true>(next, end, width, height, indexBits, entries, &image);
  in.Skip(uint64_t(next - start));
  return message == nullptr || Fail(message);
}

}  // namespace zef

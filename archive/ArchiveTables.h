// The archive's record tables and palettes, read in place from the archive
// bytes rather than copied into lists: a header that announces billions of
// records then costs nothing, and palette records that share their data do
// not multiply it. Fields that lie past the end of the bytes (a record cut
// short, which the reader has already failed on) read as 0.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/ZefFormat.h"

namespace zef {

// A little-endian field of `width` bytes at byte `at`.
inline uint32_t FieldAt(const uint8_t* data, size_t size, uint64_t at, uint32_t width) {
  uint32_t value = 0;
  for (uint32_t n = 0; n < width; ++n) {
    if (at + n < size) value |= uint32_t(data[at + n]) << (8 * n);
  }
  return value;
}

// `count` records of `recordSize` bytes from byte `first` on.
class RecordTable {
 public:
  RecordTable() = default;
  RecordTable(const uint8_t* data, size_t size, uint64_t first, uint32_t count, uint32_t recordSize)
      : data_(data), size_(size), first_(first), count_(count), recordSize_(recordSize) {}

  uint32_t Count() const { return count_; }
  uint32_t Field(uint32_t record, uint32_t at, uint32_t width) const {
    return FieldAt(data_, size_, first_ + uint64_t(record) * recordSize_ + at, width);
  }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  uint64_t first_ = 0;
  uint32_t count_ = 0;
  uint32_t recordSize_ = 0;
};

// The image records: widths, heights, data offsets and, in version 3,
// palette indices.
class ImageSpecifications {
 public:
  ImageSpecifications() = default;
  ImageSpecifications(RecordTable records, bool withPaletteIndices)
      : records_(records), withPaletteIndices_(withPaletteIndices) {}

  uint32_t Count() const { return records_.Count(); }
  uint32_t Width(uint32_t n) const { return records_.Field(n, kRecordWidthAt, 4); }
  uint32_t Height(uint32_t n) const { return records_.Field(n, kRecordHeightAt, 4); }
  uint32_t DataOffset(uint32_t n) const {
    return records_.Field(n, withPaletteIndices_ ? kRecordDataOffsetAtV3 : kRecordDataOffsetAtV2, 4);
  }
  bool HasPaletteIndices() const { return withPaletteIndices_; }
  uint16_t PaletteIndex(uint32_t n) const {
    return withPaletteIndices_ ? uint16_t(records_.Field(n, kRecordPaletteIndexAtV3, 2)) : 0;
  }

 private:
  RecordTable records_;
  bool withPaletteIndices_ = false;
};

// The palette records: entry counts and data offsets.
class PaletteSpecifications {
 public:
  PaletteSpecifications() = default;
  explicit PaletteSpecifications(RecordTable records) : records_(records) {}

  uint32_t Count() const { return records_.Count(); }
  uint32_t EntryCount(uint32_t n) const { return records_.Field(n, kPaletteRecordEntryCountAt, 4); }
  uint32_t DataOffset(uint32_t n) const { return records_.Field(n, kPaletteRecordDataOffsetAt, 4); }

 private:
  RecordTable records_;
};

// The colours of one palette: `count` u16 palette colours from byte `first`.
class PaletteColours {
 public:
  PaletteColours() = default;
  PaletteColours(const uint8_t* data, size_t size, uint64_t first, uint32_t count)
      : data_(data), size_(size), first_(first), count_(count) {}

  uint32_t Count() const { return count_; }
  uint16_t operator[](uint32_t n) const {
    return uint16_t(FieldAt(data_, size_, first_ + uint64_t(n) * kPaletteColourSize, 2));
  }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  uint64_t first_ = 0;
  uint32_t count_ = 0;
};

// The palettes of an archive, in palette-record order; each one's colours
// follow the marker at its record's data offset.
class PaletteList {
 public:
  PaletteList() = default;
  PaletteList(const uint8_t* data, size_t size, PaletteSpecifications specifications)
      : data_(data), size_(size), specifications_(specifications) {}

  uint32_t Count() const { return specifications_.Count(); }
  PaletteColours operator[](uint32_t n) const {
    return PaletteColours(data_, size_, uint64_t(specifications_.DataOffset(n)) + kMarkerSize,
                          specifications_.EntryCount(n));
  }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  PaletteSpecifications specifications_;
};

}  // namespace zef

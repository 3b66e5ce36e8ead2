// Archive bytes held in memory, read with the rules of a binary input file
// stream, because the reader's checks and messages are defined by those
// rules:
// - a read that runs past the end delivers the bytes that are there and
//   leaves the stream at its end and failed;
// - once the stream is at its end or failed, reads deliver nothing and
//   (as a stream's sentry does) mark it failed;
// - the position reads -1 once the stream has failed;
// - a seek clears the end mark and is not done on a failed stream; a seek
//   past the end succeeds, and the next read there comes up short.
// The buffer does not own the bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zef {

class InputBuffer {
 public:
  InputBuffer(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  // Copies up to `size` bytes to `target`; returns how many came.
  size_t Read(void* target, size_t size);
  // Bytes that do not come leave the rest of `value` as it was, just as a
  // short stream read into the variable would.
  void ReadU8(uint8_t& value) { Read(&value, 1); }
  void ReadU16(uint16_t& value) {
    if (const uint8_t* bytes = Take(2)) {
      value = uint16_t(bytes[0] | bytes[1] << 8);
    } else {
      ReadU16Slowly(value);
    }
  }
  void ReadU32(uint32_t& value) {
    if (const uint8_t* bytes = Take(4)) {
      value = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
              uint32_t(bytes[3]) << 24;
    } else {
      ReadU32Slowly(value);
    }
  }

  // The next `size` bytes in place, consumed; null, with nothing consumed
  // and no state changed, when the stream could not deliver all of them.
  // The fast path of the decoders; the slow path then reads as usual.
  const uint8_t* Take(size_t size) {
    if (!Good() || position_ > size_ || size_ - position_ < size) return nullptr;
    const uint8_t* bytes = data_ + position_;
    position_ += size;
    return bytes;
  }
  // Consumes `size` bytes as a read of that many would, without copying.
  void Skip(uint64_t size);

  // Reads two bytes; true when they are the marker and both came.
  bool ReadMarker(const uint8_t (&marker)[2]);

  bool Good() const { return !hitEnd_ && !failed_; }
  bool HitEndOrFailed() const { return !Good(); }
  bool Failed() const { return failed_; }
  // The read position, or -1 once the stream has failed.
  int64_t Tell();
  void Seek(uint64_t position);

  // Bytes from the position to the end; 0 when the stream cannot deliver any.
  uint64_t Remaining() const { return Good() && position_ < size_ ? size_ - position_ : 0; }
  // The raw position and the bytes, for tables read in place.
  uint64_t Position() const { return position_; }
  const uint8_t* Data() const { return data_; }
  size_t Size() const { return size_; }

 private:
  void ReadU16Slowly(uint16_t& value);
  void ReadU32Slowly(uint32_t& value);

  const uint8_t* data_;
  size_t size_;
  uint64_t position_ = 0;
  bool hitEnd_ = false;
  bool failed_ = false;
};

}  // namespace zef

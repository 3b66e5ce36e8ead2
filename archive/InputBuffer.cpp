#include "archive/InputBuffer.h"

#include <cstring>

namespace zef {

size_t InputBuffer::Read(void* target, size_t size) {
  if (!Good()) {
    failed_ = true;
    return 0;
  }
  const uint64_t available = position_ < size_ ? size_ - position_ : 0;
  const size_t delivered = available < size ? size_t(available) : size;
  if (delivered > 0) std::memcpy(target, data_ + position_, delivered);
  position_ += delivered;
  if (delivered < size) hitEnd_ = failed_ = true;
  return delivered;
}

void InputBuffer::ReadU16Slowly(uint16_t& value) {
  uint8_t bytes[2] = {uint8_t(value), uint8_t(value >> 8)};
  Read(bytes, sizeof bytes);
  value = uint16_t(bytes[0] | bytes[1] << 8);
}

void InputBuffer::ReadU32Slowly(uint32_t& value) {
  uint8_t bytes[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16),
                      uint8_t(value >> 24)};
  Read(bytes, sizeof bytes);
  value = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
          uint32_t(bytes[3]) << 24;
}

void InputBuffer::Skip(uint64_t size) {
  // A loop of reads that asks for nothing never touches the stream.
  if (size == 0) return;
  if (!Good()) {
    failed_ = true;
    return;
  }
  const uint64_t available = position_ < size_ ? size_ - position_ : 0;
  if (available < size) {
    position_ += available;
    hitEnd_ = failed_ = true;
  } else {
    position_ += size;
  }
}

bool InputBuffer::ReadMarker(const uint8_t (&marker)[2]) {
  uint8_t first = 0, second = 0;
  ReadU8(first);
  ReadU8(second);
  return first == marker[0] && second == marker[1] && Good();
}

int64_t InputBuffer::Tell() {
  // Asking a stream at its end for the position fails it, as its sentry does.
  if (hitEnd_) failed_ = true;
  return failed_ ? -1 : int64_t(position_);
}

void InputBuffer::Seek(uint64_t position) {
  hitEnd_ = false;
  if (failed_) return;
  position_ = position;
}

}  // namespace zef

#include "OutputFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zef {

namespace {
// Large enough that the seeks back over a line or a whole sprite land in
// memory; small enough not to matter beside the images themselves.
constexpr size_t kBufferCapacity = size_t{1} << 20;
}  // namespace

OutputFile::~OutputFile() { Close(); }

bool OutputFile::Open(const std::string& fileName, uint64_t sizeLimit) {
  Close();
  fd_ = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd_ < 0) return false;
  sizeLimit_ = sizeLimit;
  position_ = windowStart_ = 0;
  // The buffer grows with the archive up to its capacity, so that a small
  // archive does not cost a megabyte of fresh memory per write.
  buffer_.clear();
  failed_ = tooLarge_ = false;
  return true;
}

void OutputFile::WriteU16(uint16_t value) {
  const uint8_t bytes[2] = {uint8_t(value), uint8_t(value >> 8)};
  WriteBytes(bytes, 2);
}

void OutputFile::WriteU32(uint32_t value) {
  const uint8_t bytes[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16),
                            uint8_t(value >> 24)};
  WriteBytes(bytes, 4);
}

void OutputFile::WriteBytes(const void* data, size_t size) {
  if (!Good() || fd_ < 0) return;
  if (position_ + size > sizeLimit_) {
    tooLarge_ = true;
    return;
  }
  // Keep the buffer one contiguous window of the file around the position.
  if (position_ < windowStart_ || position_ > windowStart_ + buffer_.size() ||
      position_ - windowStart_ + size > kBufferCapacity) {
    Flush();
    if (!Good()) return;
    windowStart_ = position_;
  }
  const size_t offset = size_t(position_ - windowStart_);
  if (offset + size > buffer_.size()) buffer_.resize(offset + size);
  std::memcpy(buffer_.data() + offset, data, size);
  position_ += size;
}

void OutputFile::SeekAbsolute(uint64_t position) { position_ = position; }

void OutputFile::SeekRelative(int64_t offset) { position_ = uint64_t(int64_t(position_) + offset); }

void OutputFile::Flush() {
  const uint8_t* data = buffer_.data();
  size_t left = buffer_.size();
  uint64_t at = windowStart_;
  while (left > 0 && !failed_) {
    const ssize_t written = ::pwrite(fd_, data, left, off_t(at));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      failed_ = true;
      break;
    }
    data += written;
    left -= size_t(written);
    at += uint64_t(written);
  }
  buffer_.clear();
}

bool OutputFile::Close() {
  if (fd_ < 0) return false;
  Flush();
  const bool closed = ::close(fd_) == 0;
  fd_ = -1;
  return closed && Good();
}

}  // namespace zef

// The archive's bytes into a file, front to back, through a buffer.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "writer/ArchiveEncoder.h"

namespace zef {

namespace {
// Large enough that a sprite's image data goes out in one write; small
// enough not to matter beside the images themselves.
constexpr size_t kBufferCapacity = size_t{1} << 20;
}  // namespace

FileSink::~FileSink() {
  if (fd_ >= 0) ::close(fd_);
}

bool FileSink::Open(uint64_t size) {
  fd_ = ::open(fileName_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  // A small archive does not cost a megabyte of fresh memory.
  buffer_.reserve(size < kBufferCapacity ? size_t(size) : kBufferCapacity);
  return fd_ >= 0;
}

void FileSink::Put(const uint8_t* bytes, size_t size) {
  if (failed_) return;
  if (buffer_.size() + size > kBufferCapacity) {
    WriteOut(buffer_.data(), buffer_.size());
    buffer_.clear();
    if (size > kBufferCapacity) {
      WriteOut(bytes, size);
      return;
    }
  }
  buffer_.insert(buffer_.end(), bytes, bytes + size);
}

void FileSink::WriteOut(const uint8_t* bytes, size_t size) {
  while (size > 0 && !failed_) {
    const ssize_t written = ::write(fd_, bytes, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      failed_ = true;
      break;
    }
    bytes += written;
    size -= size_t(written);
  }
}

bool FileSink::Finish() {
  WriteOut(buffer_.data(), buffer_.size());
  buffer_.clear();
  const bool closed = ::close(fd_) == 0;
  fd_ = -1;
  return closed && !failed_;
}

}  // namespace zef

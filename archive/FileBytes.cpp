#include "archive/FileBytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace zef {

namespace {

// Closes the descriptor on every path.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

// Chunk for files whose size is not known in advance (pipes, devices).
constexpr size_t kReadChunk = size_t{1} << 16;

}  // namespace

std::optional<std::vector<uint8_t>> ReadFileBytes(const std::string& fileName) {
  const Descriptor file(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.Get() < 0) return std::nullopt;
  struct stat status {};
  size_t expected = 0;
  if (::fstat(file.Get(), &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0) {
    expected = size_t(status.st_size);
  }
  // One spare byte: a regular file is then read without growing the buffer,
  // and only a file that grew since fstat needs more room.
  std::vector<uint8_t> bytes(expected + 1);
  size_t used = 0;
  for (;;) {
    if (used == bytes.size()) bytes.resize(used + std::max(kReadChunk, used));
    const ssize_t got = ::read(file.Get(), bytes.data() + used, bytes.size() - used);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    used += size_t(got);
  }
  bytes.resize(used);
  return bytes;
}

}  // namespace zef

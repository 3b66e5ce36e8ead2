#include "archive/FileBytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <stdexcept>

#include "archive/ZefFormat.h"

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

// Reads a file of known size as one block; one spare byte lets a file that
// grew since fstat show as such without a second pass.
std::vector<uint8_t> ReadWhole(int fd, size_t expected) {
  std::vector<uint8_t> bytes(expected + 1);
  size_t used = 0;
  for (;;) {
    if (used == bytes.size()) bytes.resize(used + std::max(kReadChunk, used));
    const ssize_t got = ::read(fd, bytes.data() + used, bytes.size() - used);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    used += size_t(got);
  }
  bytes.resize(used);
  return bytes;
}

// Reads in chunks, so that the prefix can be judged after every one and an
// endless input costs no more than its limit.
std::vector<uint8_t> ReadInSteps(int fd, uint64_t limit, PrefixDecides decides) {
  std::vector<uint8_t> bytes;
  size_t used = 0;
  while (used < limit) {
    if (used == bytes.size()) {
      const uint64_t room = std::min<uint64_t>(limit - used, std::max(kReadChunk, used));
      bytes.resize(used + size_t(room));
    }
    const ssize_t got = ::read(fd, bytes.data() + used, bytes.size() - used);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    used += size_t(got);
    if (decides != nullptr && decides(bytes.data(), used)) break;
  }
  bytes.resize(used);
  return bytes;
}

// The signature and the version are judged before anything else is read, so
// an input that fails either fails the same way whatever follows; a pipe or
// device is then not read on.
bool SignatureOrVersionFails(const uint8_t* bytes, size_t size) {
  constexpr size_t kSignatureSize = sizeof kFileSignature;
  constexpr size_t kVersionEnd = kSignatureSize + 2;
  if (size >= kSignatureSize && !std::equal(bytes, bytes + kSignatureSize, kFileSignature)) {
    return true;
  }
  if (size < kVersionEnd) return false;
  const int version = bytes[kSignatureSize] | bytes[kSignatureSize + 1] << 8;
  return version != kVersion1 && version != kVersion2 && version != kVersion3 && version != kVersion4;
}

}  // namespace

std::optional<std::vector<uint8_t>> ReadFileBytes(const std::string& fileName, uint64_t limit,
                                                  PrefixDecides decides) {
  const Descriptor file(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.Get() < 0) return std::nullopt;
  struct stat status {};
  if (::fstat(file.Get(), &status) == 0 && S_ISREG(status.st_mode)) {
    return ReadWhole(file.Get(), size_t(status.st_size));
  }
  return ReadInSteps(file.Get(), limit, decides);
}

std::optional<std::vector<uint8_t>> ReadArchiveBytes(const std::string& fileName) {
  return ReadFileBytes(fileName, kMaxArchiveSize, SignatureOrVersionFails);
}

FileRead ReadRegularFile(const std::string& fileName, std::vector<uint8_t>& bytes, uint64_t* fileSize) {
  if (fileName.find('\0') != std::string::npos) return FileRead::kNotRegular;
  struct stat status {};
  const Descriptor file(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (file.Get() < 0) {
    const bool regular = ::stat(fileName.c_str(), &status) == 0 && S_ISREG(status.st_mode);
    return regular ? FileRead::kUnreadable : FileRead::kNotRegular;
  }
  if (::fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode)) return FileRead::kNotRegular;
  if (fileSize != nullptr) *fileSize = uint64_t(status.st_size);
  try {
    bytes = ReadWhole(file.Get(), size_t(status.st_size));
  } catch (const std::length_error&) {
    throw std::bad_alloc();
  }
  return FileRead::kRead;
}

}  // namespace zef

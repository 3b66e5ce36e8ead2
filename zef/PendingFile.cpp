#include "zef/PendingFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace zef::tool {

namespace {

constexpr mode_t kNewFileMode = 0666;

// The temporary names, where a signal handler can read them: fixed
// buffers, claimed and released with atomic flags.
constexpr int kSlots = 8;
constexpr size_t kLongestPath = 4096;
char slotPaths[kSlots][kLongestPath];
std::atomic<bool> slotClaimed[kSlots];
std::atomic<bool> slotFilled[kSlots];

int ClaimSlot(const std::string& path) {
  if (path.size() >= kLongestPath) return -1;
  for (int n = 0; n < kSlots; ++n) {
    bool expected = false;
    if (!slotClaimed[n].compare_exchange_strong(expected, true)) continue;
    std::memcpy(slotPaths[n], path.c_str(), path.size() + 1);
    slotFilled[n] = true;
    return n;
  }
  return -1;  // not removed on a signal, but removed on every other path
}

void ReleaseSlot(int slot) {
  if (slot < 0) return;
  slotFilled[slot] = false;
  slotClaimed[slot] = false;
}

extern "C" void RemoveAndEnd(int signalNumber) {
  for (int n = 0; n < kSlots; ++n) {
    if (slotFilled[n]) unlink(slotPaths[n]);
  }
  std::signal(signalNumber, SIG_DFL);
  std::raise(signalNumber);
}

mode_t CurrentUmask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

}  // namespace

std::optional<PendingFile> PendingFile::Create(const std::string& destination, std::string* error) {
  const std::filesystem::path target(destination);
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
  std::string pattern = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) {
    *error = destination + ": cannot create a file in " + folder.string() + " (" +
             std::strerror(errno) + ")";
    return std::nullopt;
  }
  close(fd);
  const std::string temporary(name.data());
  return PendingFile(destination, temporary, ClaimSlot(temporary));
}

PendingFile::PendingFile(PendingFile&& other) noexcept
    : destination_(std::move(other.destination_)),
      temporary_(std::move(other.temporary_)),
      slot_(other.slot_) {
  other.temporary_.clear();
  other.slot_ = -1;
}

PendingFile::~PendingFile() {
  if (!temporary_.empty()) std::remove(temporary_.c_str());
  ReleaseSlot(slot_);
}

bool PendingFile::Commit(std::string* error) {
  chmod(temporary_.c_str(), kNewFileMode & ~CurrentUmask());
  if (std::rename(temporary_.c_str(), destination_.c_str()) != 0) {
    *error = destination_ + ": cannot write it (" + std::strerror(errno) + ")";
    return false;
  }
  temporary_.clear();
  ReleaseSlot(slot_);
  slot_ = -1;
  return true;
}

// The rename replaces the destination's own entry: a link standing there is
// replaced, not what it leads to.
Destination::Destination(const std::string& path) {
  struct stat status {};
  exists_ = lstat(path.c_str(), &status) == 0;
  device_ = status.st_dev;
  inode_ = status.st_ino;
}

bool Destination::Replaces(const std::string& existing) const {
  struct stat status {};
  if (!exists_ || stat(existing.c_str(), &status) != 0) return false;
  return status.st_dev == device_ && status.st_ino == inode_;
}

void RemovePendingFilesOnSignals() {
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) std::signal(signalNumber, RemoveAndEnd);
}

}  // namespace zef::tool

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
#include <memory>
#include <vector>

namespace zef::tool {

// The temporary names, where a signal handler can read them: a list that
// only grows, of entries claimed and released with atomic flags, so that
// any number of files can be pending (one per picture of an extract).
struct SignalEntry {
  std::atomic<bool> claimed{false};
  std::atomic<bool> filled{false};
  SignalEntry* next = nullptr;
  size_t capacity = 0;
  std::unique_ptr<char[]> path;
};
namespace {

constexpr mode_t kNewFileMode = 0666;

std::atomic<SignalEntry*> signalEntries{nullptr};

SignalEntry* ClaimEntry(const std::string& path) {
  for (SignalEntry* entry = signalEntries.load(); entry != nullptr; entry = entry->next) {
    bool expected = false;
    if (entry->capacity <= path.size() || !entry->claimed.compare_exchange_strong(expected, true)) continue;
    std::memcpy(entry->path.get(), path.c_str(), path.size() + 1);
    entry->filled = true;
    return entry;
  }
  auto* entry = new SignalEntry;  // kept until the program ends, for reuse
  entry->capacity = path.size() + 1;
  entry->path = std::make_unique<char[]>(entry->capacity);
  std::memcpy(entry->path.get(), path.c_str(), path.size() + 1);
  entry->claimed = true;
  entry->filled = true;
  entry->next = signalEntries.load();
  while (!signalEntries.compare_exchange_weak(entry->next, entry)) {
  }
  return entry;
}

void ReleaseEntry(SignalEntry* entry) {
  if (entry == nullptr) return;
  entry->filled = false;
  entry->claimed = false;
}

extern "C" void RemoveAndEnd(int signalNumber) {
  for (SignalEntry* entry = signalEntries.load(); entry != nullptr; entry = entry->next) {
    if (entry->filled) unlink(entry->path.get());
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

std::optional<std::string> OutputTarget(const std::string& path, std::string* error) {
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0) return path;  // a new file, or Create says why not
  if (S_ISLNK(status.st_mode) && stat(path.c_str(), &status) != 0) {
    *error = path + ": a symbolic link that leads to no file; zef writes only through a link to a regular file";
    return std::nullopt;
  }
  if (!S_ISREG(status.st_mode)) {
    const char* kind = S_ISDIR(status.st_mode)                               ? "a folder"
                       : S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode) ? "a device"
                       : S_ISFIFO(status.st_mode)                            ? "a FIFO"
                       : S_ISSOCK(status.st_mode)                            ? "a socket"
                                                                             : "not a regular file";
    *error = path + ": is " + kind + "; zef replaces only regular files";
    return std::nullopt;
  }
  std::error_code failed;
  const std::filesystem::path target = std::filesystem::canonical(path, failed);
  if (failed) {
    *error = path + ": cannot follow it (" + failed.message() + ")";
    return std::nullopt;
  }
  // A link stays a link: the file it leads to takes the new contents.
  return std::filesystem::is_symlink(path, failed) ? target.string() : path;
}

std::optional<PendingFile> PendingFile::Create(const std::string& destination, std::string* error) {
  const std::optional<std::string> resolved = OutputTarget(destination, error);
  if (!resolved) return std::nullopt;
  const std::filesystem::path target(*resolved);
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
  return PendingFile(destination, *resolved, temporary, ClaimEntry(temporary));
}

PendingFile::PendingFile(PendingFile&& other) noexcept
    : name_(std::move(other.name_)),
      destination_(std::move(other.destination_)),
      temporary_(std::move(other.temporary_)),
      entry_(other.entry_) {
  other.temporary_.clear();
  other.entry_ = nullptr;
}

PendingFile::~PendingFile() {
  if (!temporary_.empty()) std::remove(temporary_.c_str());
  ReleaseEntry(entry_);
}

bool PendingFile::StillReplaceable(std::string* error) const {
  struct stat status {};
  if (lstat(destination_.c_str(), &status) != 0 || S_ISREG(status.st_mode)) return true;
  *error = name_ + ": is no longer a regular file; zef replaces only regular files";
  return false;
}

bool PendingFile::Commit(std::string* error) {
  if (!StillReplaceable(error)) return false;
  chmod(temporary_.c_str(), kNewFileMode & ~CurrentUmask());
  if (std::rename(temporary_.c_str(), destination_.c_str()) != 0) {
    *error = name_ + ": cannot write it (" + std::strerror(errno) + ")";
    return false;
  }
  temporary_.clear();
  ReleaseEntry(entry_);
  entry_ = nullptr;
  return true;
}

PendingFile* PendingFiles::Add(const std::string& destination, std::string* error) {
  std::optional<PendingFile> file = PendingFile::Create(destination, error);
  if (!file) return nullptr;
  files_.push_back(std::make_unique<PendingFile>(std::move(*file)));
  return files_.back().get();
}

bool PendingFiles::CommitAll(std::string* error) {
  for (const auto& file : files_) {
    if (!file->StillReplaceable(error)) return false;
  }
  for (const auto& file : files_) {
    if (!file->Commit(error)) return false;
  }
  files_.clear();
  return true;
}

// A write goes through a symbolic link, so the file the link leads to is
// the one replaced.
Destination::Destination(const std::string& path) {
  struct stat status {};
  exists_ = stat(path.c_str(), &status) == 0;
  device_ = status.st_dev;
  inode_ = status.st_ino;
  path_ = path;
}

bool Destination::Replaces(const std::string& existing) const {
  struct stat status {};
  if (exists_) {
    return stat(existing.c_str(), &status) == 0 && status.st_dev == device_ && status.st_ino == inode_;
  }
  // Neither exists yet: the same name by another spelling.
  std::error_code failed;
  const auto absolute = [&failed](const std::string& path) {
    return std::filesystem::weakly_canonical(std::filesystem::absolute(path, failed), failed);
  };
  return stat(existing.c_str(), &status) != 0 && absolute(path_) == absolute(existing) && !failed;
}

void RemovePendingFilesOnSignals() {
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) std::signal(signalNumber, RemoveAndEnd);
}

}  // namespace zef::tool

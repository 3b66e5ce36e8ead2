#include "zef/PendingFile.h"

#include <fcntl.h>
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
#include <random>
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

// The entry is filled at once: the handler removes the name from then on.
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

// Six characters as mkstemp makes them.
std::string RandomLetters() {
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static thread_local std::mt19937_64 random{std::random_device{}() ^ uint64_t(getpid()) << 32};
  std::string letters(6, 'X');
  for (char& c : letters) c = kLetters[random() % (sizeof kLetters - 1)];
  return letters;
}

// The old file's owner and group where the process may set them, and its
// permission bits; group bits that would go to another group than the
// old file's are cut to those everyone has.
void TakeModeOf(int fd, const struct stat& old) {
  if (fchown(fd, old.st_uid, old.st_gid) != 0) (void)!fchown(fd, uid_t(-1), old.st_gid);
  mode_t mode = old.st_mode & 07777;
  struct stat now {};
  if (fstat(fd, &now) == 0 && now.st_gid != old.st_gid) {
    mode = (mode & ~mode_t(S_ISGID | 070)) | (mode & 070 & (mode & 07) << 3);
  }
  if (fstat(fd, &now) == 0 && now.st_uid != old.st_uid) mode &= ~mode_t(S_ISUID);
  fchmod(fd, mode);
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
  const std::string stem = (folder / ("." + target.filename().string() + ".")).string();
  // The name is known to the signal clean-up before the file can exist
  // (mkstemp would make it first). A name that is taken after all is
  // let go and another tried, as mkstemp does.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string temporary = stem + RandomLetters();
    SignalEntry* entry = ClaimEntry(temporary);
    const int fd = open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      close(fd);
      return PendingFile(destination, *resolved, temporary, entry);
    }
    const int cause = errno;
    ReleaseEntry(entry);
    if (cause != EEXIST) {
      *error = destination + ": cannot create a file in " + folder.string() + " (" + std::strerror(cause) + ")";
      return std::nullopt;
    }
  }
  *error = destination + ": cannot create a file in " + folder.string() + " (no free temporary name)";
  return std::nullopt;
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
  // A replaced file keeps its mode, owner and group; a new one gets what
  // a new file gets.
  struct stat replaced {};
  const int fd = open(temporary_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0 && stat(destination_.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode)) {
    TakeModeOf(fd, replaced);
  } else if (fd >= 0) {
    fchmod(fd, kNewFileMode & ~CurrentUmask());
  }
  if (fd >= 0) close(fd);
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

#include "zef/PendingFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace zef::tool {

namespace {

constexpr mode_t kNewFileMode = 0666;

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
  return PendingFile(destination, std::string(name.data()));
}

PendingFile::PendingFile(PendingFile&& other) noexcept
    : destination_(std::move(other.destination_)), temporary_(std::move(other.temporary_)) {
  other.temporary_.clear();
}

PendingFile::~PendingFile() {
  if (!temporary_.empty()) std::remove(temporary_.c_str());
}

bool PendingFile::Commit(std::string* error) {
  chmod(temporary_.c_str(), kNewFileMode & ~CurrentUmask());
  if (std::rename(temporary_.c_str(), destination_.c_str()) != 0) {
    *error = destination_ + ": cannot write it (" + std::strerror(errno) + ")";
    return false;
  }
  temporary_.clear();
  return true;
}

}  // namespace zef::tool

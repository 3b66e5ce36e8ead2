// An output file that appears whole or not at all: it is written under a
// temporary name in the destination's folder and renamed when complete.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zef::tool {

// Makes SIGINT, SIGTERM and SIGHUP remove every pending temporary file
// before the program ends by that signal, so that an interrupted run
// leaves nothing behind either.
void RemovePendingFilesOnSignals();

// A file about to be written, to ask which existing files it would
// replace: its own name, by any spelling or hard link, or a file that a
// symbolic link leads to it.
class Destination {
 public:
  explicit Destination(const std::string& path);
  bool Replaces(const std::string& existing) const;

 private:
  bool exists_ = false;
  uint64_t device_ = 0, inode_ = 0;
};

class PendingFile {
 public:
  // Creates the temporary file; no value, with the cause in *error, when
  // the destination's folder does not take it.
  static std::optional<PendingFile> Create(const std::string& destination, std::string* error);

  PendingFile(PendingFile&& other) noexcept;
  PendingFile& operator=(PendingFile&&) = delete;
  PendingFile(const PendingFile&) = delete;
  ~PendingFile();  // removes the temporary file unless committed

  const std::string& TemporaryPath() const { return temporary_; }
  // Gives the file the permissions a new file gets and renames it to the
  // destination, replacing what stood there.
  bool Commit(std::string* error);

 private:
  PendingFile(std::string destination, std::string temporary, int slot)
      : destination_(std::move(destination)), temporary_(std::move(temporary)), slot_(slot) {}
  std::string destination_;
  std::string temporary_;  // empty once committed or moved from
  int slot_ = -1;          // its entry in the list the signal handler reads
};

}  // namespace zef::tool

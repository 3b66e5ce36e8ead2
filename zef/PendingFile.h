// An output file that appears whole or not at all: it is written under a
// temporary name in the destination's folder and renamed when complete.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zef::tool {

// Makes SIGINT, SIGTERM and SIGHUP remove every pending temporary file
// before the program ends by that signal, so that an interrupted run
// leaves nothing behind either.
void RemovePendingFilesOnSignals();

// The file an output named `path` replaces: `path` itself, or the regular
// file a symbolic link there leads to. No value, with the cause in *error,
// when `path` names a folder, device, FIFO or socket, or a link to one or
// to nothing.
std::optional<std::string> OutputTarget(const std::string& path, std::string* error);

// A file about to be written, to ask which existing files it would
// replace: its own name, by any spelling or hard link, or what a symbolic
// link leads to; for a name where no file is yet, the same name.
class Destination {
 public:
  explicit Destination(const std::string& path);
  bool Replaces(const std::string& existing) const;

 private:
  bool exists_ = false;
  uint64_t device_ = 0, inode_ = 0;
  std::string path_;
};

struct SignalEntry;

class PendingFile {
 public:
  // Creates the temporary file beside the file that `destination` names
  // (see OutputTarget), under a name the signal clean-up knows before the
  // file exists; no value, with the cause in *error, when it may not
  // be replaced or its folder does not take the file.
  static std::optional<PendingFile> Create(const std::string& destination, std::string* error);

  PendingFile(PendingFile&& other) noexcept;
  PendingFile& operator=(PendingFile&&) = delete;
  PendingFile(const PendingFile&) = delete;
  ~PendingFile();  // removes the temporary file unless committed

  const std::string& TemporaryPath() const { return temporary_; }
  // False, with the cause in *error, when something other than a regular
  // file has come to stand at the destination since Create.
  bool StillReplaceable(std::string* error) const;
  // Gives the file the mode, owner and group of the file it replaces (where
  // the process may; else the permissions a new file gets) and renames it
  // to the destination, replacing what stood there.
  bool Commit(std::string* error);

 private:
  PendingFile(std::string name, std::string destination, std::string temporary, SignalEntry* entry)
      : name_(std::move(name)),
        destination_(std::move(destination)),
        temporary_(std::move(temporary)),
        entry_(entry) {}
  std::string name_;         // as given, for messages
  std::string destination_;  // what the rename replaces
  std::string temporary_;    // empty once committed or moved from
  SignalEntry* entry_ = nullptr;  // its entry in the list the signal handler reads
};

// Every output of one run: each is written under its temporary name, and
// they take their names only when all are complete. A failure before that
// removes the run's temporary files and changes nothing else.
class PendingFiles {
 public:
  // Null, with the cause in *error, when the file cannot be created.
  PendingFile* Add(const std::string& destination, std::string* error);
  // Checks every destination again, then renames each file.
  bool CommitAll(std::string* error);

 private:
  std::vector<std::unique_ptr<PendingFile>> files_;
};

}  // namespace zef::tool

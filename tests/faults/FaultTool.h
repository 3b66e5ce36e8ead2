// Runs the built ZefiConvert in a scratch folder as a user without a
// desktop would (standard input /dev/null, no display) and records what it
// printed, how it ended and what the folder held before and after.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "TestImages.h"

namespace zeftest {

struct ToolRun {
  std::string output;
  bool exited = false;  // false: killed by a signal or stopped by the guard
  int exitCode = -1;
};

// What a folder holds: per entry its kind, size, change time and, for a
// plain file, its bytes. Links are not followed.
using FolderState = std::map<std::string, std::string>;

inline FolderState SnapshotFolder(const std::filesystem::path& folder) {
  FolderState state;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    struct stat status {};
    if (lstat(entry.path().c_str(), &status) != 0) continue;
    std::string description = std::to_string(status.st_mode) + " " + std::to_string(status.st_size) +
                              " " + std::to_string(status.st_mtim.tv_sec) + "." +
                              std::to_string(status.st_mtim.tv_nsec);
    if (S_ISREG(status.st_mode)) {
      std::ifstream in(entry.path(), std::ios::binary);
      description.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    state[std::filesystem::relative(entry.path(), folder).string()] = description;
  }
  return state;
}

inline ToolRun RunTool(const std::filesystem::path& folder, const std::vector<std::string>& arguments,
                       int guardMillis = 120000) {
  // Everything the child needs is made before the fork: a copy of a
  // threaded process may only make async-signal-safe calls.
  std::vector<char*> argv{const_cast<char*>(ZEFICONVERT_PATH)};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> environment;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    const std::string_view text(*variable);
    if (text.rfind("DISPLAY=", 0) != 0 && text.rfind("WAYLAND_DISPLAY=", 0) != 0) {
      environment.push_back(*variable);
    }
  }
  environment.push_back(nullptr);
  int out[2];
  if (pipe(out) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    const int devNull = open("/dev/null", O_RDWR);
    dup2(devNull, STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    if (chdir(folder.c_str()) != 0) _exit(126);
    execve(ZEFICONVERT_PATH, argv.data(), environment.data());
    _exit(127);
  }
  close(out[1]);
  ToolRun run;
  pollfd entry{out[0], POLLIN, 0};
  char buffer[4096];
  bool hung = false;
  for (;;) {
    const int ready = poll(&entry, 1, guardMillis);
    if (ready == 0) hung = true;
    if (ready <= 0) break;
    const ssize_t got = read(out[0], buffer, sizeof buffer);
    if (got <= 0) break;
    run.output.append(buffer, size_t(got));
  }
  close(out[0]);
  int status = 0;
  if (hung) {
    kill(child, SIGKILL);  // a hang is reported as a run that did not exit
    waitpid(child, &status, 0);
    return run;
  }
  waitpid(child, &status, 0);
  run.exited = WIFEXITED(status);
  run.exitCode = run.exited ? WEXITSTATUS(status) : -1;
  return run;
}

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

}  // namespace zeftest

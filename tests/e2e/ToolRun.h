// Runs the built ZefiConvert as a user without a desktop would: in a folder
// of its own, standard input from /dev/null, no window system. Hands back
// what it printed on standard output and how it ended; standard error goes
// to the test's log, where a crash or sanitizer report then shows. The
// end-to-end and fault tests share it.
#pragma once

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "TestImages.h"

namespace zeftest {

inline const std::string kGreeting = "Welcome to ZefiConvert\n\n";
inline const std::string kPrompt = "press any key to continue...\n";
inline const std::string kExiting = "Exiting...\n";
inline const std::string kUsage =
    "Usage:\n\n"
    "To convert images to the zefimage format use the tool like this:\n\n"
    "  ZefiConvert [-showOriginalImages] [-showConvertedImages] <script-filename>\n\n"
    "You can also display the content of an existing zefimage archive:\n\n"
    "  ZefiConvert -showImages <zefimage-filename>\n\n"
    "press any key to continue...\n";
inline const std::string kNoWindows = "no window system available, images are not shown\n";
inline const std::string kMaskConversion =
    "converting Mask. From 8 bpp and 3 channels to 8 bpp and 1 channel\n";

struct ToolResult {
  std::string output;
  int exitCode = -1;       // -1 when the tool did not end by itself
  bool exited = false;     // false: killed by a signal or stopped by the guard
  long peakKilobytes = 0;  // the tool's largest resident size
};

// Long enough for thousands of images under a sanitizer; a hanging key
// wait then fails its test instead of stalling the suite.
inline constexpr int kHangGuardMillis = 120000;

// AddressSanitizer reserves terabytes of address space and doubles the
// resident size, so a sanitized tool gets no address cap and no peak limit.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSanitized = true;
#else
inline constexpr bool kAddressSanitized = false;
#endif

// What a run may use and what it finds besides a user's usual setting.
struct RunSetting {
  uint64_t addressSpaceBytes = 0;  // the tool's address space cap; 0: none
  int guardMillis = kHangGuardMillis;  // for the whole run, not per read
  // "NAME=value" entries added to the environment, which holds no display.
  std::vector<std::string> environment;
};

inline ToolResult RunTool(const std::filesystem::path& folder, const std::vector<std::string>& arguments,
                          const RunSetting& setting = {}) {
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
  for (const std::string& entry : setting.environment) {
    environment.push_back(const_cast<char*>(entry.c_str()));
  }
  environment.push_back(nullptr);
  const rlimit cap{rlim_t(setting.addressSpaceBytes), rlim_t(setting.addressSpaceBytes)};
  int out[2];
  if (pipe(out) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    const int devNull = open("/dev/null", O_RDWR);
    dup2(devNull, STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    if (chdir(folder.c_str()) != 0) _exit(126);
    if (!kAddressSanitized && setting.addressSpaceBytes != 0 && setrlimit(RLIMIT_AS, &cap) != 0) {
      _exit(125);
    }
    execve(ZEFICONVERT_PATH, argv.data(), environment.data());
    _exit(127);
  }
  close(out[1]);
  ToolResult result;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(setting.guardMillis);
  pollfd entry{out[0], POLLIN, 0};
  char buffer[4096];
  bool ended = false;
  while (!ended) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || poll(&entry, 1, int(left.count())) <= 0) break;
    const ssize_t got = read(out[0], buffer, sizeof buffer);
    if (got > 0) result.output.append(buffer, size_t(got));
    ended = got <= 0;
  }
  close(out[0]);
  if (!ended) kill(child, SIGKILL);  // a hang is reported as a run that did not exit
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  result.peakKilobytes = usage.ru_maxrss;
  if (!ended) return result;
  result.exited = WIFEXITED(status);
  result.exitCode = result.exited ? WEXITSTATUS(status) : -1;
  return result;
}

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

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

class ToolTest : public ::testing::Test {
 protected:
  void WriteText(const std::string& name, const std::string& text) { zeftest::WriteText(dir_ / name, text); }
  void SavePicture(const std::string& name, const cv::Mat& picture) {
    ASSERT_TRUE(cv::imwrite((dir_ / name).string(), picture));
  }
  uint64_t SizeOf(const std::string& name) const { return std::filesystem::file_size(dir_ / name); }

  ToolResult Run(const std::vector<std::string>& arguments, const RunSetting& setting = {}) const {
    return RunTool(dir_.path(), arguments, setting);
  }

  TempDir dir_;
};

// The report line, from sizes measured here on disk.
inline std::string ExpectedSizeReport(uint64_t sourceBytes, uint64_t archiveBytes) {
  char line[256];
  std::snprintf(line, sizeof line,
                "Uncompressed Size: %2.1f KB, Compressed Size: %2.1f KB (%2.2f%%)\n",
                sourceBytes / 1024.0, archiveBytes / 1024.0, archiveBytes / (sourceBytes * 0.01));
  return line;
}

}  // namespace zeftest

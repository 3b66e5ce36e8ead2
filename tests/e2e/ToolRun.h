// Runs the built ZefiConvert as a user would, in a folder of its own, with
// standard input from /dev/null and no window system, and hands back what
// it printed.
#pragma once

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
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
  int exitCode = -1;  // -1 when the tool did not end by itself
  long peakKilobytes = 0;  // the tool's largest resident size
};

// What a run may use and what it finds besides a user's usual setting.
struct RunSetting {
  uint64_t addressSpaceBytes = 0;  // the tool's address space cap; 0: none
  // A generous guard by default, so that a hanging key wait fails the test
  // instead of stalling the suite.
  int guardMillis = 60000;
  // "NAME=value" entries added to the environment, which holds no display.
  std::vector<std::string> environment;
};

class ToolTest : public ::testing::Test {
 protected:
  void WriteText(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
  }
  void SavePicture(const std::string& name, const cv::Mat& picture) {
    ASSERT_TRUE(cv::imwrite((dir_ / name).string(), picture));
  }
  uint64_t SizeOf(const std::string& name) const { return std::filesystem::file_size(dir_ / name); }

  ToolResult Run(const std::vector<std::string>& arguments) const { return Run(arguments, {}); }

  ToolResult Run(const std::vector<std::string>& arguments, const RunSetting& setting) const {
    // Everything the child needs is made before the fork: after it, only
    // calls that are safe in a copy of a threaded process are made.
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
      dup2(devNull, STDERR_FILENO);
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      if (chdir(dir_.path().c_str()) != 0) _exit(126);
      if (setting.addressSpaceBytes != 0 && setrlimit(RLIMIT_AS, &cap) != 0) _exit(125);
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
    if (!ended) kill(child, SIGKILL);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    result.peakKilobytes = usage.ru_maxrss;
    if (!ended) return result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
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

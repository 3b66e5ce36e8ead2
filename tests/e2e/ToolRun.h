// Runs the built ZefiConvert as a user would, in a folder of its own, with
// standard input from /dev/null and no window system, and hands back what
// it printed.
#pragma once

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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

  ToolResult Run(const std::vector<std::string>& arguments) const {
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
    environment.push_back(nullptr);
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
      execve(ZEFICONVERT_PATH, argv.data(), environment.data());
      _exit(127);
    }
    close(out[1]);
    ToolResult result;
    // A generous guard so that a hanging key wait fails the test instead
    // of stalling the suite.
    constexpr int kHangGuardMillis = 60000;
    pollfd entry{out[0], POLLIN, 0};
    char buffer[4096];
    bool ended = false;
    while (!ended && poll(&entry, 1, kHangGuardMillis) > 0) {
      const ssize_t got = read(out[0], buffer, sizeof buffer);
      if (got > 0) result.output.append(buffer, size_t(got));
      ended = got <= 0;
    }
    close(out[0]);
    if (!ended) kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
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

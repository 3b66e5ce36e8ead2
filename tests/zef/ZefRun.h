// Runs a built program (zef, or ZefiConvert to compare with) in a folder of
// its own, with standard input from /dev/null, and hands back its standard
// output and standard error apart, with the exit code.
#pragma once

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TestImages.h"

namespace zeftest {

struct ZefResult {
  std::string out;
  std::string err;
  int exitCode = -1;  // -1 when the program did not end by itself
};

// cpuSeconds: when not 0, the program is stopped after that much processor
// time, so that endless work fails a test quickly. standardOutput: when
// given, the file standard output goes to instead of `out` ("" closes it).
// memoryMiB: when not 0, the program's address space is limited to it.
inline ZefResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                            const std::filesystem::path& folder, int cpuSeconds = 0,
                            const char* standardOutput = nullptr, int memoryMiB = 0) {
  // Everything the child needs is made before the fork.
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const std::string where = folder.string();
  int out[2], err[2];
  if (pipe(out) != 0) return {};
  if (pipe(err) != 0) {
    close(out[0]);
    close(out[1]);
    return {};
  }
  const pid_t child = fork();
  if (child == 0) {
    const int devNull = open("/dev/null", O_RDONLY);
    dup2(devNull, STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    if (standardOutput != nullptr && *standardOutput == '\0') close(STDOUT_FILENO);
    if (standardOutput != nullptr && *standardOutput != '\0') {
      dup2(open(standardOutput, O_WRONLY), STDOUT_FILENO);
    }
    dup2(err[1], STDERR_FILENO);
    close(out[0]);
    close(err[0]);
    if (chdir(where.c_str()) != 0) _exit(126);
    const rlimit cpu{rlim_t(cpuSeconds), rlim_t(cpuSeconds)};
    if (cpuSeconds > 0 && setrlimit(RLIMIT_CPU, &cpu) != 0) _exit(125);
    const rlimit memory{rlim_t(memoryMiB) << 20, rlim_t(memoryMiB) << 20};
    if (memoryMiB > 0 && setrlimit(RLIMIT_AS, &memory) != 0) _exit(125);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  ZefResult result;
  // A generous guard so that a hang fails the test instead of the suite.
  constexpr int kHangGuardMillis = 120000;
  pollfd entries[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* texts[2] = {&result.out, &result.err};
  int open = 2;
  bool hung = false;
  char buffer[4096];
  while (open > 0) {
    if (poll(entries, 2, kHangGuardMillis) <= 0) {
      hung = true;
      break;
    }
    for (int n = 0; n < 2; ++n) {
      if (entries[n].fd < 0 || entries[n].revents == 0) continue;
      const ssize_t got = read(entries[n].fd, buffer, sizeof buffer);
      if (got > 0) {
        texts[n]->append(buffer, size_t(got));
      } else {
        close(entries[n].fd);
        entries[n].fd = -1;
        --open;
      }
    }
  }
  for (const pollfd& entry : entries) {
    if (entry.fd >= 0) close(entry.fd);
  }
  if (hung) kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  if (!hung && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  return result;
}

class ZefTest : public ::testing::Test {
 protected:
  ZefResult Zef(const std::vector<std::string>& arguments) const {
    return RunProgram(ZEF_PATH, arguments, dir_.path());
  }
  ZefResult ZefiConvert(const std::vector<std::string>& arguments) const {
    return RunProgram(ZEFICONVERT_PATH, arguments, dir_.path());
  }
  void Save(const std::string& name, const cv::Mat& picture) {
    std::filesystem::create_directories((dir_ / name).parent_path());
    ASSERT_TRUE(cv::imwrite((dir_ / name).string(), picture)) << name;
  }
  void WriteText(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
  }
  bool Exists(const std::string& name) const { return std::filesystem::exists(dir_ / name); }
  Bytes FileBytes(const std::string& name) const { return ReadFile(dir_ / name); }
  // Names of the files in the folder, to show that nothing was left behind.
  std::vector<std::string> Listing(const std::string& folder = ".") const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_ / folder)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  TempDir dir_;
};

}  // namespace zeftest

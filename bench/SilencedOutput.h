// The tool's messages go to standard output; while a benchmark runs its
// steps they are sent nowhere, so that they neither mix with the report
// nor cost a terminal's time.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace zefbench {

class SilencedOutput {
 public:
  SilencedOutput() {
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    const int nowhere = open("/dev/null", O_WRONLY | O_CLOEXEC);
    dup2(nowhere, STDOUT_FILENO);
    close(nowhere);
  }
  ~SilencedOutput() {
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
  }
  SilencedOutput(const SilencedOutput&) = delete;
  SilencedOutput& operator=(const SilencedOutput&) = delete;

 private:
  int saved_;
};

}  // namespace zefbench

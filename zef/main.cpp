// zef: packs images into .zef archives, lists and extracts them.
#include <fcntl.h>
#include <unistd.h>

#include <opencv2/core/utils/logger.hpp>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <exception>
#include <iostream>
#include <streambuf>
#include <string>

#include "zef/Commands.h"
#include "zef/PendingFile.h"

namespace {

// Standard output written with write(2), so that every failure is seen:
// a full disk, a closed pipe or a closed descriptor fails the run instead
// of losing its data.
class StandardOutput : public std::streambuf {
 public:
  StandardOutput() {
    // A closed descriptor 1 would be taken by the next file opened, and
    // data meant for the terminal would land in it.
    if (fcntl(STDOUT_FILENO, F_GETFD) < 0) {
      closed_ = true;
      open("/dev/null", O_WRONLY);
    }
    setp(buffer_, buffer_ + sizeof buffer_);
  }
  // Empty when everything written arrived; else why not.
  std::string Failure() {
    sync();
    return failure_;
  }

 protected:
  int overflow(int c) override {
    if (sync() != 0) return traits_type::eof();
    if (c != traits_type::eof()) sputc(char(c));
    return traits_type::not_eof(c);
  }
  int sync() override {
    const char* at = pbase();
    if (at != pptr() && closed_ && failure_.empty()) failure_ = "it is closed";
    while (at < pptr() && failure_.empty()) {
      const ssize_t written = write(STDOUT_FILENO, at, size_t(pptr() - at));
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) failure_ = std::strerror(errno);
      at += written > 0 ? written : 0;
    }
    setp(buffer_, buffer_ + sizeof buffer_);
    return failure_.empty() ? 0 : -1;
  }

 private:
  char buffer_[1 << 16];
  bool closed_ = false;
  std::string failure_;
};

}  // namespace

int main(int argc, char** argv) {
  // The image library's own warnings would mix into the program's messages.
  cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
  zef::tool::RemovePendingFilesOnSignals();
  // A closed pipe is a failed write like any other (exit 1, every file as
  // it was), not an end by signal.
  std::signal(SIGPIPE, SIG_IGN);
  StandardOutput standardOutput;
  std::ostream out(&standardOutput);
  int exitCode = zef::tool::kExitFailed;
  try {
    exitCode = zef::tool::RunCommandLine(argc, argv, out, std::cerr);
  } catch (const std::exception& exception) {
    std::cerr << "zef: " << exception.what() << "\n";
  }
  const std::string failure = standardOutput.Failure();
  if (!failure.empty()) {
    std::cerr << "zef: standard output: cannot write it (" << failure << ")\n";
    if (exitCode == zef::tool::kExitDone) exitCode = zef::tool::kExitFailed;
  }
  return exitCode;
}

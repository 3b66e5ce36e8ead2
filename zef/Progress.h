// A progress bar on standard error, drawn only when that is a terminal, so
// that logs and pipes never get it. Steps may come from any thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>

namespace zef::tool {

class Progress {
 public:
  Progress(std::string label, size_t total, bool enabled);
  ~Progress();  // clears the bar
  void Step();

 private:
  void Draw(size_t done);
  std::string label_;
  size_t total_;
  bool enabled_;
  std::atomic<size_t> done_{0};
  std::mutex drawing_;
  int drawnWidth_ = -1;  // columns of bar last drawn
};

}  // namespace zef::tool

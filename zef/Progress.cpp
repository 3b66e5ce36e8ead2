#include "zef/Progress.h"

#include <cstdio>

namespace zef::tool {

namespace {
constexpr int kBarWidth = 40;
}

Progress::Progress(std::string label, size_t total, bool enabled)
    : label_(std::move(label)), total_(total), enabled_(enabled && total > 0) {}

Progress::~Progress() {
  if (enabled_ && drawnWidth_ >= 0) std::fputs("\r\033[K", stderr);
}

void Progress::Step() {
  const size_t done = done_.fetch_add(1) + 1;
  if (enabled_) Draw(done);
}

void Progress::Draw(size_t done) {
  const int width = int(done * kBarWidth / total_);
  // Redrawn only when the bar grows, so that thousands of small steps cost
  // no more than forty writes.
  std::lock_guard lock(drawing_);
  if (width <= drawnWidth_) return;
  drawnWidth_ = width;
  std::fprintf(stderr, "\r%s [%-*s] %zu/%zu", label_.c_str(), kBarWidth,
               std::string(size_t(width), '#').c_str(), done, total_);
  std::fflush(stderr);
}

}  // namespace zef::tool

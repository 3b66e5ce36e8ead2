// How many threads a benchmark's work may use: the imaging library's pool
// (which the console tool loads its files on) and the cores the calling
// thread may run on. Each is restored when the guard ends.
#pragma once

#include <opencv2/core/utility.hpp>
#include <sched.h>

namespace zefbench {

// The imaging library's pool held to the calling thread alone.
class OneThread {
 public:
  OneThread() : threads_(cv::getNumThreads()) { cv::setNumThreads(1); }
  ~OneThread() { cv::setNumThreads(threads_); }
  OneThread(const OneThread&) = delete;
  OneThread& operator=(const OneThread&) = delete;

 private:
  int threads_;
};

// One thread, and that thread held to the first core it may run on, as
// `taskset -c 0` does to a whole process.
class HeldToOneCore {
 public:
  HeldToOneCore() {
    CPU_ZERO(&saved_);
    if (sched_getaffinity(0, sizeof saved_, &saved_) != 0) return;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
      if (!CPU_ISSET(cpu, &saved_)) continue;
      cpu_set_t one;
      CPU_ZERO(&one);
      CPU_SET(cpu, &one);
      pinned_ = sched_setaffinity(0, sizeof one, &one) == 0;
      break;
    }
  }
  ~HeldToOneCore() {
    if (pinned_) sched_setaffinity(0, sizeof saved_, &saved_);
  }
  HeldToOneCore(const HeldToOneCore&) = delete;
  HeldToOneCore& operator=(const HeldToOneCore&) = delete;
  bool Pinned() const { return pinned_; }

 private:
  OneThread oneThread_;
  cpu_set_t saved_;
  bool pinned_ = false;
};

}  // namespace zefbench

// Work spread over the image library's thread pool, one index at a time;
// each index's result goes to its own slot, so the outcome is the same for
// any number of threads.
#pragma once

#include <opencv2/core.hpp>

#include <cstddef>

namespace zef::tool {

// Calls work(i) for every i below count on at most `jobs` threads (0: one
// per core, and never more than the cores: the thread pool would warn).
// `work` must not throw.
template <typename Work>
void ParallelFor(size_t count, int jobs, const Work& work) {
  const int cores = cv::getNumberOfCPUs();
  const int threads = jobs > 0 && jobs < cores ? jobs : cores;
  if (threads <= 1 || count < 2) {
    for (size_t i = 0; i < count; ++i) work(i);
    return;
  }
  const int previous = cv::getNumThreads();
  cv::setNumThreads(threads);
  // One stripe per index: images differ in size, and small stripes keep
  // every thread busy to the end.
  cv::parallel_for_(
      cv::Range(0, int(count)),
      [&work](const cv::Range& range) {
        for (int i = range.start; i < range.end; ++i) work(size_t(i));
      },
      double(count));
  cv::setNumThreads(previous);
}

}  // namespace zef::tool

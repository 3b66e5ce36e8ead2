// Room for decoded images: plain byte vectors, or cv::Mat made once and
// filled in place. Each keeps the images in the order they were made.
#pragma once

#include <opencv2/core.hpp>

#include <climits>
#include <new>
#include <vector>

#include "archive/ArchiveDecoder.h"

namespace zef {

class VectorStore : public ImageStore {
 public:
  Buffers NewImage(uint32_t width, uint32_t height, bool alpha) override {
    try {
      const size_t pixels = size_t(width) * height;
      pixels_.emplace_back(pixels * 3);
      alphas_.emplace_back(alpha ? pixels : 0);
      return {pixels_.back().data(), alpha ? alphas_.back().data() : nullptr};
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    pixels_.resize(alphas_.size());
    return {};
  }
  // Moves the pixels into the descriptions of the images made.
  void MoveInto(std::vector<DecodedImage>& images) {
    for (size_t n = 0; n < images.size() && n < pixels_.size(); ++n) {
      images[n].pixels = std::move(pixels_[n]);
      images[n].alphaCodes = std::move(alphas_[n]);
    }
  }

 private:
  std::vector<std::vector<uint8_t>> pixels_, alphas_;
};

// For a check of the archive: no image is kept, so memory does not grow
// with the images.
class CheckStore : public ImageStore {
 public:
  Buffers NewImage(uint32_t, uint32_t, bool) override { return {}; }
  bool KeepsPixels() const override { return false; }
};

class MatStore : public ImageStore {
 public:
  Buffers NewImage(uint32_t width, uint32_t height, bool alpha) override {
    // The image library indexes rows and row bytes with int.
    if (height > uint32_t{INT_MAX} || width > uint32_t{INT_MAX / 3}) return {};
    try {
      mats_.emplace_back(int(height), int(width), CV_8UC3);
      alphas_.emplace_back(alpha ? size_t(width) * height : 0);
      return {mats_.back().data, alpha ? alphas_.back().data() : nullptr};
    } catch (const cv::Exception&) {
    } catch (const std::bad_alloc&) {
    }
    mats_.resize(alphas_.size());
    return {};
  }
  std::vector<cv::Mat>& Mats() { return mats_; }
  void MoveAlphaInto(std::vector<DecodedImage>& images) {
    for (size_t n = 0; n < images.size() && n < alphas_.size(); ++n) images[n].alphaCodes = std::move(alphas_[n]);
  }

 private:
  std::vector<cv::Mat> mats_;
  std::vector<std::vector<uint8_t>> alphas_;
};

}  // namespace zef

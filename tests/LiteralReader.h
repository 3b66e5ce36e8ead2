// A second reader, for differential tests: the reading rules taken step by
// step over a std::istream, with every list copied out and one stream read
// per value. It shares no code with zef::ZefImgReader, so where the two
// disagree on a file, one of them breaks the rules.
//
// Where a short read leaves a value undelivered, the variable keeps what it
// held: 0 at first, then the last value read into it. Images above
// kMaxPixels are decoded without pixels; the small files of the tests
// cannot hold one.
#pragma once

#include <opencv2/core.hpp>

#include <algorithm>
#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace zeftest {

// The bytes of a file behind a stream buffer that seeks as a file does: to
// any position, past the end too, where the next read comes up short.
class FileLikeBuffer : public std::streambuf {
 public:
  explicit FileLikeBuffer(const std::vector<uint8_t>& bytes) {
    char* first = const_cast<char*>(reinterpret_cast<const char*>(bytes.data()));
    setg(first, first, first + bytes.size());
  }

 protected:
  pos_type seekpos(pos_type position, std::ios_base::openmode) override {
    if (off_type(position) < 0) return pos_type(off_type(-1));
    const off_type size = egptr() - eback();
    const off_type at = std::min(off_type(position), size);
    setg(eback(), eback() + at, egptr());
    pastEnd_ = off_type(position) - at;
    return position;
  }
  pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                   std::ios_base::openmode mode) override {
    const off_type here = gptr() - eback() + pastEnd_;
    const off_type base = direction == std::ios_base::beg   ? 0
                          : direction == std::ios_base::cur ? here
                                                            : egptr() - eback();
    return seekpos(pos_type(base + offset), mode);
  }

 private:
  off_type pastEnd_ = 0;
};

class LiteralReader {
 public:
  struct Outcome {
    std::optional<std::vector<cv::Mat>> images;
    std::string error;
    uint32_t startIndex = 0;
  };

  // Reads a file holding exactly these bytes.
  Outcome Read(const std::vector<uint8_t>& file) {
    FileLikeBuffer buffer(file);
    std::istream in(&buffer);
    in_ = &in;
    Outcome outcome;
    std::vector<cv::Mat> images;
    if (ReadArchive(images)) outcome.images = std::move(images);
    outcome.error = error_;
    outcome.startIndex = startIndex_;
    return outcome;
  }

 private:
  static constexpr uint64_t kMaxPixels = uint64_t{1} << 22;

  template <typename T>
  void Get(T& value) {
    in_->read(reinterpret_cast<char*>(&value), sizeof value);  // the host is little-endian
  }
  bool Short() const { return in_->eof() || in_->fail(); }
  bool Fail(const char* message) {
    error_ = message;
    return false;
  }
  bool Marker(uint8_t first, uint8_t second) {
    uint8_t a = 0, b = 0;
    Get(a);
    Get(b);
    return a == first && b == second && !Short();
  }
  bool EndOfHeader() {
    uint8_t a = 0, b = 0, c = 0;
    Get(a);
    Get(b);
    Get(c);
    return a == 0xFF && b == 0xEE && c == 0xDD && !Short();
  }

  bool ReadArchive(std::vector<cv::Mat>& images) {
    uint8_t a = 0, b = 0, c = 0;
    Get(a);
    Get(b);
    Get(c);
    if (a != 0xAA || b != 0xFF || c != 0xAA || Short()) return Fail("wrong header");
    uint16_t version = 0;
    Get(version);
    if (Short()) return Fail("wrong file");
    version_ = version;
    if (version == 1) {
      if (!HeaderV1()) return false;
      return Decoded(images, WordImage(width_, height_));
    }
    if (version != 2 && version != 3) return Fail("wrong version");
    if (!Header() || !ImageSpecifications()) return false;
    if (version == 3 && !Palettes()) return false;
    for (uint32_t i = 0; i < imageCount_; ++i) {
      if (int64_t(in_->tellg()) != int64_t(offsets_[i])) return Fail("wrong image data");
      if (!Marker(0xAF, 0xFE)) return Fail("wrong image data");
      if (version == 2) {
        if (!Decoded(images, WordImage(widths_[i], heights_[i]))) return false;
        continue;
      }
      if (paletteIndices_[i] >= palettes_.size()) return Fail("wrong image data");
      if (!Decoded(images, CodeImage(widths_[i], heights_[i], palettes_[paletteIndices_[i]]))) {
        return Fail("wrong image data");
      }
    }
    return true;
  }

  bool Decoded(std::vector<cv::Mat>& images, std::optional<cv::Mat> image) {
    if (!image) return false;
    images.push_back(*image);
    return true;
  }

  bool HeaderV1() {
    Get(width_);
    Get(height_);
    if (width_ == 0 || height_ == 0 || Short()) return Fail("wrong header");
    Get(h_[0]);
    Get(h_[1]);
    Get(h_[2]);
    if (h_[0] != 3 || h_[1] != 2 || h_[2] != 12 || Short()) return Fail("wrong header");
    Get(h_[3]);
    Get(h_[4]);
    Get(h_[5]);
    if (h_[3] != 4 || h_[4] != 2 || h_[5] != 16 || Short()) return Fail("wrong header");
    Get(h_[6]);
    if (!EndOfHeader()) return Fail("wrong header");
    imageCount_ = 1;
    return true;
  }

  bool Header() {
    Get(imageCount_);
    if (imageCount_ == 0 || Short()) return Fail("wrong header");
    for (int n = 0; n < 3; ++n) Get(h_[n]);
    if (Short()) return Fail("wrong header");
    for (int n = 3; n < 6; ++n) Get(h_[n]);
    if (Short()) return Fail("wrong header");
    Get(h_[6]);
    startIndex_ = 0;
    if (version_ > 2) Get(startIndex_);
    if (!EndOfHeader()) return Fail("wrong header");
    return true;
  }

  bool ImageSpecifications() {
    if (!Marker(0xBE, 0xBA)) return Fail("wrong image data");
    uint16_t number = 0, paletteIndex = 0;
    uint32_t width = 0, height = 0, offset = 0;
    for (uint32_t n = 0; n < imageCount_; ++n) {
      Get(number);
      Get(width);
      widths_.push_back(width);
      Get(height);
      heights_.push_back(height);
      if (version_ == 3) {
        Get(paletteIndex);
        paletteIndices_.push_back(paletteIndex);
      }
      if (Short()) return Fail("wrong image data");
      Get(offset);
      offsets_.push_back(offset);
    }
    return true;
  }

  bool Palettes() {
    std::vector<uint32_t> entryCounts, offsets;
    if (!PaletteSpecifications(entryCounts, offsets)) {
      return Fail("could not read PaletteSpecifications...");
    }
    for (size_t j = 0; j < entryCounts.size(); ++j) {
      if (!in_->fail()) in_->seekg(offsets[j]);
      std::vector<uint16_t> palette;
      if (!Marker(0xFA, 0xBE)) {
        palettes_.clear();
        return Fail("wrong palette data");
      }
      uint16_t colour = 0;
      for (uint32_t n = 0; n < entryCounts[j]; ++n) {
        Get(colour);
        if (Short()) break;  // later reads deliver nothing; only the state counts
        palette.push_back(colour);
      }
      palettes_.push_back(palette);
    }
    return true;
  }

  bool PaletteSpecifications(std::vector<uint32_t>& entryCounts, std::vector<uint32_t>& offsets) {
    if (!Marker(0xFA, 0xFA)) return Fail("wrong palette specification");
    uint32_t count = 0, entryCount = 0, offset = 0;
    uint16_t number = 0;
    Get(count);
    for (uint32_t n = 0; n < count; ++n) {
      Get(number);
      Get(entryCount);
      entryCounts.push_back(entryCount);
      if (Short()) return Fail("wrong palette spec");
      Get(offset);
      offsets.push_back(offset);
    }
    return true;
  }

  static cv::Vec3b Pixel(uint16_t value, uint8_t alphaPosition) {
    const int shift = alphaPosition == 1 ? 4 : 0;
    return {uint8_t(((value >> shift) & 15) * 16), uint8_t(((value >> (shift + 4)) & 15) * 16),
            uint8_t(((value >> (shift + 8)) & 15) * 16)};
  }

  static std::optional<cv::Mat> NewImage(uint32_t width, uint32_t height) {
    if (uint64_t{width} * height > kMaxPixels) return cv::Mat();
    return cv::Mat(int(height), int(width), CV_8UC3, cv::Scalar::all(0));
  }

  std::optional<cv::Mat> WordImage(uint32_t width, uint32_t height) {
    if (width == 0 || height == 0) return Failed("wrong image data");
    std::optional<cv::Mat> image = NewImage(width, height);
    if (h_[6] != 0) return Runs(*image, width, height, nullptr);
    uint16_t word = 0;
    for (uint32_t y = 0; y < height; ++y) {
      for (uint32_t x = 0; x < width; ++x) {
        Get(word);
        const bool black = (h_[5] == 1 ? word & 15 : word >> 12) == 0;
        if (!image->empty()) image->at<cv::Vec3b>(int(y), int(x)) = black ? cv::Vec3b() : Pixel(word, h_[5]);
        if (Short()) return Failed("error in image data (too short)");
      }
    }
    return image;
  }

  std::optional<cv::Mat> CodeImage(uint32_t width, uint32_t height,
                                   const std::vector<uint16_t>& palette) {
    if (width == 0 || height == 0) return Failed("wrong image data");
    std::optional<cv::Mat> image = NewImage(width, height);
    return Runs(*image, width, height, &palette);
  }

  // Run-length data: pixel codes when a palette is given, else colour words.
  std::optional<cv::Mat> Runs(cv::Mat& image, uint32_t width, uint32_t height,
                              const std::vector<uint16_t>* palette) {
    uint32_t expected = 0, runs = 0;
    uint16_t remaining = 0, word = 0;
    uint8_t code = 0, length = 0;
    Get(expected);
    for (uint32_t y = 0; y < height; ++y) {
      Get(remaining);
      uint64_t x = 0;
      while (x < width) {
        palette ? Get(code) : Get(word);
        Get(length);
        --remaining;
        ++runs;
        uint32_t index = code;
        if (palette && h_[4] != 0) {
          index = h_[5] == 1 ? code >> (h_[3] == 1 ? 1 : 2) : code & (h_[3] == 1 ? 0x7F : 0x3F);
        }
        x += length;
        if (x > width) return Failed("error in image data (RLE line too long)");
        if (palette && index >= palette->size()) {
          return Failed("error in image data (color outside palette dimenions)");
        }
        const cv::Vec3b pixel = Pixel(palette ? (*palette)[index] : word, h_[5]);
        for (uint64_t p = x - length; p < x && !image.empty(); ++p) {
          image.at<cv::Vec3b>(int(y), int(p)) = pixel;
        }
        if (Short()) return Failed("error in image data (too short)");
      }
      if (remaining != 0) return Failed("error in image data (entries not valid at a line)");
    }
    if (runs != expected) return Failed("entries!=allentries?!");
    return image;
  }

  std::optional<cv::Mat> Failed(const char* message) {
    error_ = message;
    return std::nullopt;
  }

  std::istream* in_ = nullptr;
  std::string error_;
  int version_ = -1;
  uint8_t h_[7] = {255, 255, 255, 255, 255, 255, 255};
  uint32_t startIndex_ = 0, width_ = 0, height_ = 0, imageCount_ = 0;
  std::vector<uint32_t> widths_, heights_, offsets_;
  std::vector<uint16_t> paletteIndices_;
  std::vector<std::vector<uint16_t>> palettes_;
};

}  // namespace zeftest

// Runs the reader over archive bytes and keeps what a test looks at.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "TestImages.h"
#include "archive/ZefImgReader.h"

namespace zeftest {

struct ReadResult {
  std::optional<std::vector<cv::Mat>> images;
  std::string error;
  uint32_t startIndex = 0;
};

inline ReadResult ReadArchiveBytes(const Bytes& archive) {
  zef::ZefImgReader reader;
  ReadResult result;
  result.images = reader.ReadMemory(archive.data(), archive.size());
  result.error = reader.GetError();
  result.startIndex = reader.GetStartIndex();
  return result;
}

inline void PatchU32(Bytes& bytes, size_t at, uint32_t value) {
  for (int b = 0; b < 4; ++b) bytes[at + b] = uint8_t(value >> (8 * b));
}

// Byte positions of the fields that tests break.
constexpr size_t kImageCountAt = 5;
constexpr size_t kRecordsAtV2 = 21;
constexpr size_t kRecordsAtV3 = 25;
constexpr size_t kStartIndexAt = 16;

}  // namespace zeftest

// Seekable, buffered binary output with the failed-state rules the archive
// writer relies on: once a write fails, later writes do nothing and the
// caller skips its seeks (Good() is false).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zef {

class OutputFile {
 public:
  // Archives larger than this cannot be addressed by their u32 offsets.
  static constexpr uint64_t kDefaultSizeLimit = uint64_t{1} << 32;

  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates or truncates the file. False when it cannot be opened.
  bool Open(const std::string& fileName, uint64_t sizeLimit = kDefaultSizeLimit);
  bool IsOpen() const { return fd_ >= 0; }

  void WriteU8(uint8_t value) { WriteBytes(&value, 1); }
  void WriteU16(uint16_t value);
  void WriteU32(uint32_t value);
  void WriteBytes(const void* data, size_t size);

  uint64_t Tell() const { return position_; }
  void SeekAbsolute(uint64_t position);
  void SeekRelative(int64_t offset);

  bool Good() const { return !failed_ && !tooLarge_; }
  // True when a write would have passed the size limit; the file is then
  // also in the failed state.
  bool TooLarge() const { return tooLarge_; }

  // Writes out what is buffered and closes. False if any write, the flush
  // or the close failed.
  bool Close();

 private:
  void Flush();

  int fd_ = -1;
  uint64_t sizeLimit_ = kDefaultSizeLimit;
  uint64_t position_ = 0;      // the write position in the file
  uint64_t windowStart_ = 0;   // file position of buffer_[0]
  std::vector<uint8_t> buffer_;  // bytes not yet written, from windowStart_
  bool failed_ = false;
  bool tooLarge_ = false;
};

}  // namespace zef

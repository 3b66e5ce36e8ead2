// The encoder behind Encode, EncodeToFile and their cv::Mat adapters: one
// forward pass into a sink once every image is prepared and the whole
// layout is known.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "writer/EncoderSettings.h"
#include "writer/ZefEncode.h"

namespace zef {

// Where the archive's bytes go, front to back. Open is told the archive's
// size before the first byte.
class ArchiveSink {
 public:
  virtual ~ArchiveSink() = default;
  virtual bool Open(uint64_t size) = 0;
  virtual void Put(const uint8_t* bytes, size_t size) = 0;
  // False when any byte could not be written.
  virtual bool Finish() = 0;
};

class MemorySink : public ArchiveSink {
 public:
  bool Open(uint64_t size) override;
  void Put(const uint8_t* bytes, size_t size) override;
  bool Finish() override { return true; }
  std::vector<uint8_t>& Bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// Buffered writes to a file created or truncated by Open. After a failed
// write later ones do nothing, and Finish reports it.
class FileSink : public ArchiveSink {
 public:
  explicit FileSink(std::string fileName) : fileName_(std::move(fileName)) {}
  ~FileSink() override;
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;
  bool Open(uint64_t size) override;
  void Put(const uint8_t* bytes, size_t size) override;
  bool Finish() override;

 private:
  void WriteOut(const uint8_t* bytes, size_t size);

  std::string fileName_;
  int fd_ = -1;
  std::vector<uint8_t> buffer_;
  bool failed_ = false;
};

// The size limit as a refusal states it: whole binary units where the
// limit is one, else bytes.
std::string SizeLimitText(uint64_t limit);

// "no images" and the version 3 image count, the first refusals of a write.
Status CheckImageCount(size_t imageCount, uint16_t version);

// Checks the views, prepares every image and writes the archive into the
// sink. Never throws: running out of memory is the result "out of memory".
Status EncodeViews(const EncoderSettings& settings, const std::vector<ImageView>& images,
                   const std::vector<MaskView>& masks, ArchiveSink& sink);

}  // namespace zef

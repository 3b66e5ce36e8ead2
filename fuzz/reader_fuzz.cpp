// Archive reader on arbitrary bytes. Whatever the bytes, the reader must
// return without a sanitizer report, a failure must carry a message, and
// the images of a success must be 8-bit, 3-channel with the low four bits
// of every channel clear. Some inputs also go through a file and Read,
// which must agree with ReadMemory exactly. The library core decodes the
// same bytes, version 4 included: a check that keeps no pixels must agree
// with it, it must accept what the reader accepts, and the reader must
// answer "wrong version" for version 4.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/ZefDecode.h"
#include "archive/ZefImgReader.h"

#define ZEF_NO_COVERAGE __attribute__((no_sanitize("coverage")))

namespace {

// One input in this many is also read from a file: enough to cover the
// file path without paying for a file write on every execution.
constexpr size_t kFileReadEvery = 16;

const std::string& ArchivePath() {
  static const std::string path = [] {
    const std::filesystem::path folder =
        std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
    return (folder / ("zef-reader-fuzz-" + std::to_string(getpid()) + ".zef")).string();
  }();
  return path;
}

// Removes the scratch file when an execution ends, so that no run of the
// fuzzer leaves files behind, however it is stopped between executions.
struct RemoveWhenDone {
  const std::string& path;
  ~RemoveWhenDone() { std::remove(path.c_str()); }
};

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "reader_fuzz: %s\n", what);
  std::abort();
}

ZEF_NO_COVERAGE void CheckImages(const std::vector<cv::Mat>& images) {
  if (images.empty()) Fail("success without images");
  for (const cv::Mat& image : images) {
    if (image.empty()) continue;  // a record of width or height 0
    if (image.type() != CV_8UC3) Fail("decoded image is not 8-bit, 3 channels");
    for (int y = 0; y < image.rows; ++y) {
      const uint8_t* pixel = image.ptr<uint8_t>(y);
      for (int x = 0; x < image.cols * 3; ++x) {
        if (pixel[x] & 0x0F) Fail("decoded channel has low bits set");
      }
    }
  }
}

ZEF_NO_COVERAGE bool SameImages(const std::vector<cv::Mat>& a, const std::vector<cv::Mat>& b) {
  if (a.size() != b.size()) return false;
  for (size_t n = 0; n < a.size(); ++n) {
    if (a[n].size() != b[n].size() || a[n].type() != b[n].type()) return false;
    if (!a[n].empty() && cv::norm(a[n], b[n], cv::NORM_INF) != 0) return false;
  }
  return true;
}

ZEF_NO_COVERAGE void CompareWithFileRead(const uint8_t* data, size_t size,
                                         const std::optional<std::vector<cv::Mat>>& fromMemory,
                                         const std::string& memoryError) {
  const RemoveWhenDone scratch{ArchivePath()};
  {
    std::ofstream out(ArchivePath(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
  }
  zef::ZefImgReader reader;
  const std::optional<std::vector<cv::Mat>> fromFile = reader.Read(ArchivePath());
  if (fromFile.has_value() != fromMemory.has_value()) Fail("Read and ReadMemory disagree");
  if (fromFile && !SameImages(*fromFile, *fromMemory)) Fail("Read and ReadMemory images differ");
  if (!fromFile && reader.GetError() != memoryError) Fail("Read and ReadMemory messages differ");
}

ZEF_NO_COVERAGE void CheckCoreDecode(const uint8_t* data, size_t size, bool readerAccepted,
                                     const std::string& readerError) {
  const zef::DecodeResult full = zef::Decode(data, size);
  zef::Options checkOnly;
  checkOnly.keepPixels = false;
  const zef::DecodeResult checked = zef::Decode(data, size, checkOnly);
  if (full.message != checked.message || full.Ok() != checked.Ok()) Fail("a check and a decode disagree");
  if (full.Ok() != full.message.empty()) Fail("core outcome and message disagree");
  if (full.images.size() != checked.images.size()) Fail("a check and a decode count other images");
  for (size_t n = 0; n < full.images.size(); ++n) {
    const zef::DecodedImage &a = full.images[n], &b = checked.images[n];
    if (a.width != b.width || a.height != b.height || a.dataBytes != b.dataBytes ||
        a.paletteColours != b.paletteColours) {
      Fail("a check and a decode describe an image differently");
    }
    if (a.pixels.size() != size_t(a.width) * a.height * 3) Fail("decoded pixels do not fill the image");
  }
  if (full.info.version == zef::kVersion4) {
    if (readerError != "wrong version") Fail("the reader read version 4");
  } else if (readerAccepted != full.Ok()) {
    Fail("the reader and the core decode disagree");
  }
}

}  // namespace

// One thread: the fuzzer runs beside other work, and OpenCV's worker
// threads would only add noise to the coverage.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  cv::setNumThreads(0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zef::ZefImgReader reader;
  const std::optional<std::vector<cv::Mat>> images = reader.ReadMemory(data, size);
  const std::string error = reader.GetError();
  if (images) {
    CheckImages(*images);
  } else if (error.empty()) {
    Fail("failure without a message");
  }
  if (!reader.GetError().empty()) Fail("GetError did not empty the message");
  if (size % kFileReadEvery == 0) CompareWithFileRead(data, size, images, error);
  CheckCoreDecode(data, size, images.has_value(), error);
  return 0;
}

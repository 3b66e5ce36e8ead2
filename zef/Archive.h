// What an archive holds, as `zef info` lists it and `zef extract` writes it,
// from the library's decode: colours as the reader shows them, and each
// pixel's alpha.
#pragma once

#include <opencv2/core.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zef::tool {

struct ArchiveImage {
  uint32_t number = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  std::optional<uint32_t> paletteColours;  // versions 3 and 4 only
  uint64_t dataBytes = 0;  // from the image's marker to the next image's, or the end
};

struct ArchiveSummary {
  int version = 0;
  uint32_t startIndex = 0;
  int alphaBits = 0;  // 0, 1 or 2 in version 3; 4 (a nibble) in versions 1 and 2; 8 in version 4
  uint64_t fileBytes = 0;
  std::vector<ArchiveImage> images;
};

struct DecodedImage {
  cv::Mat bgr;    // CV_8UC3, as the library core decodes them
  cv::Mat alpha;  // CV_8UC1, code x 255 / (2^bits - 1); empty without alpha
};

struct ArchiveContent {
  ArchiveSummary summary;
  std::vector<DecodedImage> images;  // only when asked for
};

// No value, with the reader's message in *error, for an archive the
// reader refuses.
std::optional<ArchiveContent> OpenArchive(const std::vector<uint8_t>& bytes, bool decode,
                                          std::string* error);
// `bytes`, when given, takes the file's content.
std::optional<ArchiveContent> OpenArchiveFile(const std::string& fileName, bool decode,
                                              std::string* error, std::vector<uint8_t>* bytes = nullptr);

// Receives image n of an archive, fully decoded; false, with the cause in
// *error, stops the decode.
using ImageSink = std::function<bool(size_t n, const DecodedImage& image, std::string* error)>;

// Decodes an archive that OpenArchive has accepted one image at a time,
// each handed to `take` while only it is in memory. An image of more than
// `maxImageBytes` decoded bytes (0: no limit) is refused with the reader's
// "image too large"; one whose memory cannot be had, with "out of memory".
bool DecodeEachImage(const std::vector<uint8_t>& bytes, int alphaBits, uint64_t maxImageBytes,
                     const ImageSink& take, std::string* error);

// Each image's data bytes in a version 3 or 4 archive of `count` images
// that the writer has just made, read from its tables alone: such an
// archive needs no second check.
std::vector<uint64_t> WrittenImageBytes(const std::vector<uint8_t>& bytes, uint32_t count, int version);

}  // namespace zef::tool

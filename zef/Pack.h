// `zef pack`: images and masks in, one archive out (version 3, or version 4
// with 8-bit colour and alpha, or grey levels), with colours reduced where
// a palette cannot hold them, and the composite PSNR of what the archive
// shows.
#pragma once

#include <opencv2/core.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "quantize/CompositePsnr.h"
#include "zef/Archive.h"

namespace zef::tool {

struct PackResult;

// An input as it was loaded, before any colour was changed.
struct SourcePicture {
  cv::Mat bgr;    // CV_8UC3; its luma in every channel for a grey target
  cv::Mat alpha;  // CV_8UC1: the mask file or the picture's own alpha; empty: none
};

// The archive just written, before it takes its name.
struct WrittenArchive {
  const PackResult& result;
  const std::vector<uint8_t>& bytes;
  const std::vector<SourcePicture>& sources;  // in input order
  // The archive decoded as `zef extract` decodes it: always for version 4,
  // for version 3 when PackOptions::checkDecoded asks; else null.
  const ArchiveContent* content;
};

// A last look at the written archive: false, with the cause in *error,
// fails the pack, and no archive is left.
using ArchiveCheck = std::function<bool(const WrittenArchive&, std::string* error)>;

enum class ColourLimit {
  kAuto,   // what the palette holds: 256, 128 with one alpha bit, 64 with two
  kExact,  // as kAuto, but an image that needs reducing is refused
  kCap,    // at most PackOptions::colourCap, and at most what the palette holds
};

enum class ArchiveFormat {
  kVersion3,  // every reader takes it: 4-bit colour, 0 to 2 alpha bits
  kVersion4,  // 8-bit colour and alpha, a palette per image chosen for a quality
};

// Composite PSNR that version 4 aims for per image unless told otherwise.
inline constexpr double kDefaultQuality = 40;

struct PackOptions {
  std::vector<std::string> inputs;  // files and folders
  std::string scriptFile;           // instead of inputs
  std::string outputFile;           // may be empty with a script that names one
  std::optional<int32_t> startIndex;
  std::optional<int> alphaValues;  // 0, 2 or 4; no value: from the inputs
  std::string maskSuffix = "_mask";
  ColourLimit colourLimit = ColourLimit::kAuto;
  int colourCap = 256;
  ArchiveFormat format = ArchiveFormat::kVersion3;
  // Version 4: the composite PSNR in dB each image should reach with the
  // smallest palette that does.
  double quality = kDefaultQuality;
  float ditherStrength = 0;  // 0: no dithering
  // Grey levels for mono and grey displays, 1, 2, 4 or 8 bits (0: colour):
  // each picture's luma reduced to them, alpha kept, written as version 4
  // and measured against the luma (quantize/ReduceGrey.h).
  int greyBits = 0;
  // Grey: an ordered dither instead of ditherStrength's error diffusion.
  bool orderedDither = false;
  // Colours cut, alpha truncated and transparent pixels kept as the
  // console tool keeps them, which also keeps its limit of 64 colours with
  // a mask. Otherwise version 3 takes each alpha's nearest code.
  bool compatible = false;
  std::string headerFile;            // empty: none
  std::optional<std::string> prefix;  // no value: the archive's stem
  int jobs = 0;  // 0: one per core
  bool progress = false;
  ArchiveCheck beforeCommit;
  // beforeCommit looks at the decoded archive (WrittenArchive::content).
  bool checkDecoded = false;
};

struct PackedImage {
  std::string file;
  std::string mask;  // empty: none, or the image's own alpha
  int32_t number = 0;
  int width = 0;
  int height = 0;
  int coloursBefore = 0;
  int coloursAfter = 0;
  bool reduced = false;
  // Version 3: of the visible pixels' colours; version 4: composite, as the
  // quantizer measured it. Infinity when they are unchanged.
  double psnr = 0;
  // What the written archive shows against the source, alpha included
  // (quantize/CompositePsnr.h).
  CompositeError composite;
  uint64_t archiveBytes = 0;
  uint64_t sourceBytes = 0;  // image and mask file
};

struct PackResult {
  std::string archive;
  int32_t startIndex = 0;
  int version = 3;
  int alphaValues = 0;  // version 3; 256 for version 4's 8-bit alpha
  int greyBits = 0;     // PackOptions::greyBits
  double quality = kDefaultQuality;  // version 4's target
  uint64_t archiveBytes = 0;
  CompositeError composite;  // pooled over every image
  std::vector<PackedImage> images;
  std::vector<std::string> notes;  // for standard error: names the header had to change
};

// Most colours the palette of one image holds, by alpha values.
int PaletteCapacity(int alphaValues);

// Writes the archive, and the header file when one is named, or nothing.
// No value, with a message naming the file and the cause in *error, on
// any failure.
std::optional<PackResult> Pack(const PackOptions& options, std::string* error);

}  // namespace zef::tool

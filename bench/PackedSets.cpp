#include "bench/PackedSets.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>

#include <opencv2/imgproc.hpp>

#include "quantize/ReduceRgba.h"
#include "writer/ZefEncode.h"

namespace zefbench {

std::vector<uint8_t> PackSet(const PictureSet& set, const std::string& folder, zef::tool::PackOptions options,
                             std::string* error) {
  if (!std::filesystem::exists(folder) && !WritePictures(set, folder)) {
    *error = "cannot write the pictures of " + set.name + " into " + folder;
    return {};
  }
  options.inputs = {folder};
  options.scriptFile.clear();
  options.outputFile = folder + ".zef";
  const auto result = zef::tool::Pack(options, error);
  if (!result) return {};
  if (result->images.size() != set.pictures.size()) {
    *error = "zef pack took " + std::to_string(result->images.size()) + " of the " +
             std::to_string(set.pictures.size()) + " pictures of " + set.name;
    return {};
  }
  std::ifstream file(options.outputFile, std::ios::binary);
  std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  if (!file || bytes.size() != result->archiveBytes) {
    *error = "cannot read back " + options.outputFile;
    return {};
  }
  return bytes;
}

std::vector<uint8_t> Version4Archive(const PictureSet& set, double quality, std::string* error) {
  zef::quantize::RgbaOptions options;
  options.quality = quality;
  std::vector<zef::IndexedImage> images;
  for (const cv::Mat& picture : set.pictures) {
    cv::Mat bgr, alpha;
    cv::cvtColor(picture, bgr, cv::COLOR_BGRA2BGR);
    cv::extractChannel(picture, alpha, 3);
    auto reduced = zef::quantize::ReduceRgba(bgr, alpha, options);
    if (!reduced) {
      *error = "the quantizer refused a picture of " + set.name;
      return {};
    }
    zef::IndexedImage image{picture.cols, picture.rows, {}, std::move(reduced->indices)};
    for (const zef::quantize::RgbaEntry& entry : reduced->palette) {
      image.palette.push_back({entry.red, entry.green, entry.blue, entry.alpha});
    }
    images.push_back(std::move(image));
  }
  zef::EncodeResult encoded = zef::EncodeIndexed(images, zef::Options{});
  if (!encoded.Ok()) {
    *error = "EncodeIndexed: " + encoded.message;
    return {};
  }
  return std::move(encoded.bytes);
}

}  // namespace zefbench

#include "bench/Cases.h"

#include <opencv2/imgcodecs.hpp>

#include <map>
#include <utility>

#include "writer/ZefEncodeMat.h"

namespace zefbench {

namespace {
// Fixed seeds: every run measures the same pictures.
constexpr uint32_t kCaseSeed = 20240501;
constexpr uint32_t kScaleSeed = 777;
constexpr int kAlphaValuesWithMasks = 4;

zef::Options CaseOptions(bool masks) {
  zef::Options options;
  options.version = zef::kVersion3;
  options.alphaValues = masks ? kAlphaValuesWithMasks : 0;
  return options;
}

std::vector<uint8_t> ArchiveBytes(const std::vector<cv::Mat>& images, const std::vector<cv::Mat>& masks) {
  std::vector<uint8_t> bytes;
  if (!EncodeCaseArchive(images, masks, &bytes).empty()) return {};
  return bytes;
}

const std::vector<Sprite>& ScaleSprites() {
  static const std::vector<Sprite> sprites = [] {
    std::vector<Sprite> made;
    for (int n = 0; n < kScaleDistinct; ++n) {
      made.push_back(MakeSprite(kScaleSide, kScaleSide, kScaleColours, kScaleSeed + uint32_t(n)));
    }
    return made;
  }();
  return sprites;
}
}  // namespace

const Sprite& CaseSprite(int colours) {
  static std::map<int, Sprite> made;
  auto found = made.find(colours);
  if (found == made.end()) {
    found = made.emplace(colours, MakeSprite(kCaseSide, kCaseSide, colours, kCaseShapes, kCaseSeed))
                .first;
  }
  return found->second;
}

std::vector<cv::Mat> ScaleImages(int count) {
  std::vector<cv::Mat> images;
  for (int n = 0; n < count; ++n) images.push_back(ScaleSprites()[size_t(n % kScaleDistinct)].image);
  return images;
}

std::vector<cv::Mat> ScaleMasks(int count) {
  std::vector<cv::Mat> masks;
  for (int n = 0; n < count; ++n) masks.push_back(ScaleSprites()[size_t(n % kScaleDistinct)].mask);
  return masks;
}

std::string EncodeCaseArchive(const std::vector<cv::Mat>& images, const std::vector<cv::Mat>& masks,
                              std::vector<uint8_t>* bytes) {
  zef::EncodeResult result = zef::EncodeMats(images, masks, CaseOptions(!masks.empty()));
  if (!result.Ok()) return result.message;
  *bytes = std::move(result.bytes);
  return {};
}

std::string WriteCaseArchive(const std::string& path, const std::vector<cv::Mat>& images,
                             const std::vector<cv::Mat>& masks) {
  return zef::EncodeMatsToFile(path, images, masks, CaseOptions(!masks.empty())).message;
}

const std::vector<uint8_t>& CaseArchive(int colours, bool masks) {
  static std::map<std::pair<int, bool>, std::vector<uint8_t>> made;
  auto found = made.find({colours, masks});
  if (found == made.end()) {
    const Sprite& sprite = CaseSprite(colours);
    const std::vector<cv::Mat> maskList = masks ? std::vector<cv::Mat>{sprite.mask} : std::vector<cv::Mat>{};
    found = made.emplace(std::pair{colours, masks},
                         ArchiveBytes(                                      {sprite.image}, maskList))
                .first;
  }
  return found->second;
}

const std::vector<std::vector<uint8_t>>& CasePngs(int colours, bool masks) {
  static std::map<std::pair<int, bool>, std::vector<std::vector<uint8_t>>> made;
  auto found = made.find({colours, masks});
  if (found == made.end()) {
    const Sprite& sprite = CaseSprite(colours);
    std::vector<std::vector<uint8_t>> pngs(1);
    cv::imencode(".png", sprite.image, pngs[0]);
    if (masks) {
      pngs.emplace_back();
      cv::imencode(".png", sprite.mask, pngs[1]);
    }
    found = made.emplace(std::pair{colours, masks}, std::move(pngs)).first;
  }
  return found->second;
}

const std::vector<uint8_t>& ScaleArchive(int count) {
  static std::map<int, std::vector<uint8_t>> made;
  auto found = made.find(count);
  if (found == made.end()) {
    found = made.emplace(count, ArchiveBytes(
                                             ScaleImages(count), ScaleMasks(count)))
                .first;
  }
  return found->second;
}

std::string CaseName(int colours, bool masks) {
  return std::to_string(colours) + (masks ? "/masks" : "");
}

}  // namespace zefbench

#include "bench/SpriteSet.h"

#include <opencv2/imgcodecs.hpp>

#include <filesystem>
#include <fstream>
#include <random>

#include "bench/SpriteImages.h"

namespace zefbench {

namespace {
constexpr uint32_t kSetSeed = 4242;
// With masks a pixel code has room for 64 palette entries.
constexpr int kFewestColours = 4;
constexpr int kMostColours = 64;
}  // namespace

namespace {
constexpr uint32_t kPixelArtSeed = 31337;

// The set's paths and the head of its script, masks on with 4 alpha values.
SpriteSet StartSet(const std::string& folder, std::ofstream& script) {
  const std::string base = std::filesystem::absolute(folder).string();
  SpriteSet set;
  set.script = base + "/convert.txt";
  set.archive = base + "/sprites.zef";
  script.open(set.script);
  script << "startindex 0\noutputfilename " << set.archive << "\nmask true\nalphavalues 4\nstartimages\n";
  return set;
}

void AddSprite(SpriteSet& set, std::ofstream& script, const std::string& stem, const Sprite& sprite) {
  const std::string image = stem + ".png";
  const std::string mask = stem + "_mask.png";
  cv::imwrite(image, sprite.image);
  cv::imwrite(mask, sprite.mask);
  script << image << "\n" << mask << "\n";
  set.files.push_back(image);
  set.files.push_back(mask);
  set.decodedBytes += uint64_t(sprite.image.total()) * 4;
  set.meanRun += MeanRun(sprite.image);
}

void FinishSet(SpriteSet& set) {
  if (!set.files.empty()) set.meanRun /= double(set.files.size() / 2);
}
}  // namespace

SpriteSet MakePixelArtSet(const std::string& folder, int count) {
  std::ofstream script;
  SpriteSet set = StartSet(folder, script);
  const std::string base = std::filesystem::absolute(folder).string();
  std::mt19937 random(kPixelArtSeed);
  std::uniform_int_distribution<int> colours(kPixelArtFewestColours, kPixelArtMostColours);
  for (int n = 0; n < count; ++n) {
    AddSprite(set, script, base + "/pixel" + std::to_string(n),
              MakePixelSprite(kPixelArtSide, colours(random), kPixelArtSeed + uint32_t(n)));
  }
  FinishSet(set);
  return set;
}

SpriteSet MakeSpriteSet(const std::string& folder, int count) {
  std::ofstream script;
  SpriteSet set = StartSet(folder, script);
  const std::string base = std::filesystem::absolute(folder).string();
  std::mt19937 random(kSetSeed);
  std::uniform_int_distribution<int> side(kSpriteSetSmallest, kSpriteSetLargest);
  std::uniform_int_distribution<int> colours(kFewestColours, kMostColours);
  for (int n = 0; n < count; ++n) {
    const int width = side(random), height = side(random);
    AddSprite(set, script, base + "/sprite" + std::to_string(n),
              MakeSprite(width, height, colours(random), kSetSeed + uint32_t(n)));
  }
  FinishSet(set);
  return set;
}

}  // namespace zefbench

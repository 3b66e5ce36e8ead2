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

SpriteSet MakeSpriteSet(const std::string& folder, int count) {
  const std::string base = std::filesystem::absolute(folder).string();
  SpriteSet set;
  set.script = base + "/convert.txt";
  set.archive = base + "/sprites.zef";
  std::mt19937 random(kSetSeed);
  std::uniform_int_distribution<int> side(kSpriteSetSmallest, kSpriteSetLargest);
  std::uniform_int_distribution<int> colours(kFewestColours, kMostColours);
  std::ofstream script(set.script);
  script << "startindex 0\noutputfilename " << set.archive << "\nmask true\nalphavalues 4\nstartimages\n";
  for (int n = 0; n < count; ++n) {
    const int width = side(random), height = side(random);
    const Sprite sprite = MakeSprite(width, height, colours(random), kSetSeed + uint32_t(n));
    const std::string image = base + "/sprite" + std::to_string(n) + ".png";
    const std::string mask = base + "/sprite" + std::to_string(n) + "_mask.png";
    cv::imwrite(image, sprite.image);
    cv::imwrite(mask, sprite.mask);
    script << image << "\n" << mask << "\n";
    set.files.push_back(image);
    set.files.push_back(mask);
    set.decodedBytes += uint64_t(width) * uint64_t(height) * 4;
  }
  return set;
}

}  // namespace zefbench

#include "bench/FidelitySets.h"

#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <filesystem>
#include <random>

#include "bench/IconSet.h"
#include "bench/SpriteImages.h"
#include "bench/SpriteSet.h"

namespace zefbench {

namespace {
// Not the pixel-art set's seed of the end-to-end case: another set of sprites.
constexpr uint32_t kSpriteSeed = 20261207;
}  // namespace

PictureSet FidelityIcons(int count) {
  PictureSet set{"icons", {}};
  for (int n = 0; n < count; ++n) set.pictures.push_back(ToBgra(MakeIcon(uint32_t(n))));
  return set;
}

PictureSet FidelitySprites(int count) {
  PictureSet set{"sprites", {}};
  std::mt19937 random(kSpriteSeed);
  std::uniform_int_distribution<int> colours(kPixelArtFewestColours, kPixelArtMostColours);
  for (int n = 0; n < count; ++n) {
    const Sprite sprite = MakePixelSprite(kPixelArtSide, colours(random), kSpriteSeed + uint32_t(n));
    cv::Mat bgra;
    cv::merge(std::vector<cv::Mat>{sprite.image, sprite.mask}, bgra);
    set.pictures.push_back(bgra);
  }
  return set;
}

bool WritePictures(const PictureSet& set, const std::string& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  for (size_t n = 0; n < set.pictures.size(); ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "%05zu.png", n);
    if (!cv::imwrite(folder + "/" + name, set.pictures[n])) return false;
  }
  return true;
}

}  // namespace zefbench

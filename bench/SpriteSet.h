// A folder of sprite PNGs with their masks and a conversion script for
// them: the input of an end-to-end conversion.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zefbench {

inline constexpr int kSpriteSetCount = 300;
inline constexpr int kSpriteSetSmallest = 32;
inline constexpr int kSpriteSetLargest = 256;

struct SpriteSet {
  std::string script;   // absolute path of the conversion script
  std::string archive;  // absolute path the script names as its output
  std::vector<std::string> files;  // every image and mask file, script order
  uint64_t decodedBytes = 0;  // the pictures in memory: 3 bytes per image pixel, 1 per mask pixel
  double meanRun = 0;         // of the images' stored runs, averaged over the images
};

// Writes `count` sprites and their masks into the folder (which must
// exist), and the script that converts them. Same folder, same files.
SpriteSet MakeSpriteSet(const std::string& folder, int count = kSpriteSetCount);

// Game sprites as they come: kPixelArtSide x kPixelArtSide detailed pixel
// art (short runs) of kPixelArtFewestColours to kPixelArtMostColours
// colours, each with its mask.
inline constexpr int kPixelArtCount = 3000;
inline constexpr int kPixelArtSide = 32;
inline constexpr int kPixelArtFewestColours = 20;
inline constexpr int kPixelArtMostColours = 64;
SpriteSet MakePixelArtSet(const std::string& folder, int count = kPixelArtCount);

}  // namespace zefbench

// The two sets the high-fidelity archive (version 4) is judged on, as
// CV_8UC4 BGRA pictures: the same on every run.
//   icons:   anti-aliased RGBA icons of 16 to 48 px with soft drop shadows
//            (about a quarter of their visible pixels have alpha 1 to 42),
//            gradients, outlines and highlights, as an icon theme has them;
//   sprites: 32 x 32 pixel art in runs of 1 to 3 pixels, 20 to 64 colours,
//            on a transparent background.
#pragma once

#include <opencv2/core.hpp>

#include <string>
#include <vector>

namespace zefbench {

inline constexpr int kFidelityIconCount = 640;
inline constexpr int kFidelitySpriteCount = 2000;

struct PictureSet {
  std::string name;  // "icons", "sprites"
  std::vector<cv::Mat> pictures;
};

PictureSet FidelityIcons(int count = kFidelityIconCount);
PictureSet FidelitySprites(int count = kFidelitySpriteCount);

// Writes the pictures as PNG files named 00000.png, 00001.png, ... into
// `folder` (made when missing), so that a folder listing keeps their
// order. False when a file cannot be written.
bool WritePictures(const PictureSet& set, const std::string& folder);

}  // namespace zefbench

// The pictures every benchmark works on, made once and shared. Each
// benchmark file registers its benchmarks and targets when the program
// starts; files whose library is not built are left out.
#pragma once

#include <opencv2/core.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "bench/SpriteImages.h"

namespace zefbench {

inline constexpr int kCaseSide = 1024;
inline constexpr int kCaseColours[] = {16, 64, 256};
// Every case picture has the same shapes, whatever its number of colours,
// so that cases differ in their palettes and not in their edges.
inline constexpr int kCaseShapes = 255;
// A pixel code keeps 6 bits for the palette index beside 2 alpha bits.
inline constexpr int kMostColoursWithMasks = 64;
inline constexpr int kScaleCounts[] = {1, 10, 100, 1000, 10000};
inline constexpr int kScaleSide = 32;
inline constexpr int kScaleColours = 8;
// The scale cases cycle through this many different sprites, so that the
// sources stay in the processor's caches at every count: the question is
// whether any step grows with the images already handled.
inline constexpr int kScaleDistinct = 100;

// A kCaseSide x kCaseSide sprite of the given number of colours.
const Sprite& CaseSprite(int colours);
// `count` small sprites (and their masks), kScaleDistinct different ones.
std::vector<cv::Mat> ScaleImages(int count);
std::vector<cv::Mat> ScaleMasks(int count);

// The archive (version 3) of a case picture, with or without its mask, as
// the writer writes it, and the same picture (and mask) as PNG files.
const std::vector<uint8_t>& CaseArchive(int colours, bool masks);
const std::vector<std::vector<uint8_t>>& CasePngs(int colours, bool masks);
// The archive of the first `count` small sprites, with masks.
const std::vector<uint8_t>& ScaleArchive(int count);

// Encodes a version 3 archive as the console tool does (4 alpha values with
// masks) into memory, or writes it to a file; the writer's message on
// failure.
std::string EncodeCaseArchive(const std::vector<cv::Mat>& images, const std::vector<cv::Mat>& masks,
                              std::vector<uint8_t>* bytes);
std::string WriteCaseArchive(const std::string& path, const std::vector<cv::Mat>& images,
                             const std::vector<cv::Mat>& masks);

// "16", "16/masks": the suffix of a case's benchmark names.
std::string CaseName(int colours, bool masks);

}  // namespace zefbench

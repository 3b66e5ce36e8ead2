#include "bench/SpriteImages.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "archive/ZefFormat.h"

namespace zefbench {

namespace {

// Larger shapes go first so that small ones land on top of them; a layout
// that still hides a colour is drawn again from the next seed.
constexpr int kLayoutAttempts = 64;
constexpr uint32_t kNextLayoutSeed = 7919;  // seeds of further attempts
// Separates the colour generator's seed from the layout's.
constexpr uint32_t kColourSeedSalt = 0x9E3779B9u;
constexpr uint8_t kOpaque = 255;
constexpr uint8_t kHalfOpaque = 160;

uint16_t Colour12(const cv::Vec3b& pixel) {
  return uint16_t((pixel[0] >> 4) << 8 | (pixel[1] >> 4) << 4 | (pixel[2] >> 4));
}

// Every channel sits in the middle of its 4-bit step, so that the stored
// colour is the drawn one whatever way a reader rounds.
std::vector<cv::Scalar> DistinctColours(int count, std::mt19937& random) {
  std::vector<uint16_t> all(zef::kColourTableSize);
  for (int c = 0; c < zef::kColourTableSize; ++c) all[size_t(c)] = uint16_t(c);
  std::shuffle(all.begin(), all.end(), random);
  std::vector<cv::Scalar> colours;
  for (int i = 0; i < count; ++i) {
    const uint16_t c = all[size_t(i)];
    colours.emplace_back(((c >> 8) & 15) * 16 + 8, ((c >> 4) & 15) * 16 + 8, (c & 15) * 16 + 8);
  }
  return colours;
}

struct Shape {
  bool circle;
  cv::Point centre;
  int halfWidth, halfHeight;
  int colour;
  int order;  // position in the layout before sorting
  long Area() const { return long(halfWidth) * halfHeight; }
};

Sprite Draw(int width, int height, int colours, int shapes, uint32_t seed) {
  std::mt19937 random(seed);
  // The colours come from their own generator so that the layout does not
  // depend on how many there are.
  std::mt19937 colourRandom(seed ^ kColourSeedSalt);
  const std::vector<cv::Scalar> palette = DistinctColours(colours, colourRandom);
  Sprite sprite{cv::Mat(height, width, CV_8UC3, palette[0]), cv::Mat::zeros(height, width, CV_8UC1)};
  if (shapes <= 0 || colours < 2) return sprite;
  // Shapes shrink as there are more of them, so that all stay visible.
  const double cell = std::min(width, height) / std::sqrt(double(shapes));
  const int smallest = std::max(1, int(cell * 0.25));
  const int largest = std::max(smallest + 1, int(cell * 0.75));
  std::uniform_int_distribution<int> size(smallest, largest);
  std::uniform_int_distribution<int> x(0, width - 1), y(0, height - 1);
  std::vector<Shape> layout;
  for (int s = 0; s < shapes; ++s) {
    layout.push_back({random() % 2 == 0, {x(random), y(random)}, size(random), size(random),
                      1 + s % (colours - 1), s});
  }
  std::stable_sort(layout.begin(), layout.end(),
                   [](const Shape& a, const Shape& b) { return a.Area() > b.Area(); });
  for (const Shape& shape : layout) {
    const cv::Scalar& colour = palette[size_t(shape.colour)];
    const uint8_t alpha = shape.order % 4 == 0 ? kHalfOpaque : kOpaque;
    if (shape.circle) {
      const cv::Size axes(shape.halfWidth, shape.halfHeight);
      cv::ellipse(sprite.image, shape.centre, axes, 0, 0, 360, colour, cv::FILLED, cv::LINE_8);
      cv::ellipse(sprite.mask, shape.centre, axes, 0, 0, 360, cv::Scalar(alpha), cv::FILLED, cv::LINE_8);
    } else {
      const cv::Rect box(shape.centre.x - shape.halfWidth, shape.centre.y - shape.halfHeight,
                         2 * shape.halfWidth, 2 * shape.halfHeight);
      cv::rectangle(sprite.image, box, colour, cv::FILLED, cv::LINE_8);
      cv::rectangle(sprite.mask, box, cv::Scalar(alpha), cv::FILLED, cv::LINE_8);
    }
  }
  return sprite;
}

}  // namespace

Sprite MakeSprite(int width, int height, int colours, int shapes, uint32_t seed) {
  Sprite sprite;
  for (int attempt = 0; attempt < kLayoutAttempts; ++attempt) {
    sprite = Draw(width, height, colours, shapes, seed + uint32_t(attempt) * kNextLayoutSeed);
    if (CountColours(sprite.image) == colours) break;
  }
  return sprite;
}

Sprite MakeSprite(int width, int height, int colours, uint32_t seed) {
  return MakeSprite(width, height, colours, colours - 1, seed);
}

Sprite MakePixelSprite(int side, int colours, uint32_t seed) {
  std::mt19937 random(seed);
  std::mt19937 colourRandom(seed ^ kColourSeedSalt);
  const std::vector<cv::Scalar> palette = DistinctColours(colours, colourRandom);
  Sprite sprite{cv::Mat(side, side, CV_8UC3, palette[0]), cv::Mat::zeros(side, side, CV_8UC1)};
  if (colours < 2) return sprite;
  // The figure: an ellipse filling most of the square, its outline made
  // ragged row by row as hand-drawn figures are.
  std::uniform_real_distribution<double> radius(side * 0.4, side * 0.5);
  std::uniform_int_distribution<int> ragged(-1, 1);
  // Single pixels and pairs most, as shading and outlines are drawn.
  std::discrete_distribution<int> runLength({0, 3, 3, 2});
  std::uniform_int_distribution<int> figureColour(1, colours - 1);
  const double centre = (side - 1) / 2.0, rx = radius(random), ry = radius(random);
  int runs = 0, previous = 0;
  for (int y = 0; y < side; ++y) {
    const double dy = (y - centre) / ry;
    if (dy * dy >= 1.0) continue;
    const int half = int(rx * std::sqrt(1.0 - dy * dy));
    const int begin = std::max(0, int(centre) - half + ragged(random));
    const int end = std::min(side, int(centre) + half + 1 + ragged(random));
    cv::Vec3b* row = sprite.image.ptr<cv::Vec3b>(y);
    uint8_t* maskRow = sprite.mask.ptr<uint8_t>(y);
    for (int x = begin; x < end;) {
      // Every figure colour comes once in turn before chance takes over,
      // so that the sprite holds all of them.
      int colour = runs < colours - 1 ? 1 + runs : figureColour(random);
      if (colour == previous) colour = colour % (colours - 1) + 1;
      if (colour == previous) colour = 0;  // two colours only: one figure colour
      const cv::Scalar& value = palette[size_t(colour)];
      const int stop = std::min(end, x + runLength(random));
      for (; x < stop; ++x) {
        row[x] = cv::Vec3b(uint8_t(value[0]), uint8_t(value[1]), uint8_t(value[2]));
        maskRow[x] = kOpaque;
      }
      previous = colour;
      ++runs;
    }
  }
  return sprite;
}

int CountColours(const cv::Mat& image) {
  std::array<bool, zef::kColourTableSize> seen{};
  int count = 0;
  for (int y = 0; y < image.rows; ++y) {
    const cv::Vec3b* row = image.ptr<cv::Vec3b>(y);
    for (int x = 0; x < image.cols; ++x) {
      const uint16_t c = Colour12(row[x]);
      if (!seen[c]) {
        seen[c] = true;
        ++count;
      }
    }
  }
  return count;
}

double MeanRun(const cv::Mat& image) {
  long runs = 0;
  for (int y = 0; y < image.rows; ++y) {
    const cv::Vec3b* row = image.ptr<cv::Vec3b>(y);
    for (int x = 0; x < image.cols;) {
      const uint16_t c = Colour12(row[x]);
      int length = 1;
      while (x + length < image.cols && length < int(zef::kMaxRunLength) &&
             Colour12(row[x + length]) == c) {
        ++length;
      }
      ++runs;
      x += length;
    }
  }
  return runs == 0 ? 0.0 : double(image.total()) / double(runs);
}

}  // namespace zefbench

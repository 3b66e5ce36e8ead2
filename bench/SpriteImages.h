// Deterministic sprite-like pictures for the benchmarks: flat areas with
// hard edges, the kind of content the archive is made for.
#pragma once

#include <opencv2/core.hpp>

#include <cstdint>

namespace zefbench {

struct Sprite {
  cv::Mat image;  // 8-bit, 3 channels
  cv::Mat mask;   // 8-bit, 1 channel: 0 outside the shapes
};

// A flat background with `shapes` filled circles and rectangles, without
// anti-aliasing, coloured with the other colours - 1 colours in turn. The
// layout depends only on the size, the number of shapes and the seed, so
// pictures that differ only in their number of colours have the same edges.
// The picture holds exactly `colours` distinct 4-bit colours as long as
// colours <= 256, shapes >= colours - 1 and the picture is large enough
// for the shapes to stay visible (1024 x 1024 always is). The mask is 0
// outside the shapes, and 255 or 160 inside.
Sprite MakeSprite(int width, int height, int colours, int shapes, uint32_t seed);
// With one shape per colour.
Sprite MakeSprite(int width, int height, int colours, uint32_t seed);

// Detailed pixel art: a blob-shaped figure on a flat background, drawn in
// short runs (1 to 3 pixels, mostly 1 or 2; neighbours always of different colours) of
// `colours` - 1 figure colours, each of which appears. The mask is 255 on
// the figure and 0 on the background. Needs a figure of at least
// `colours` - 1 runs, which a 32 x 32 sprite of up to 64 colours has.
Sprite MakePixelSprite(int side, int colours, uint32_t seed);

// Distinct colours at the archive's 4-bit precision.
int CountColours(const cv::Mat& image);

// Mean length of the runs that the archive stores for the picture (cut at
// line ends and at 255 pixels).
double MeanRun(const cv::Mat& image);

}  // namespace zefbench

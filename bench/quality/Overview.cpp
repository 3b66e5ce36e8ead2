// zef_overview: the README's picture. For each image and its mask: the
// source over a checkerboard, the picture that a version 3 archive of them
// holds (4 alpha values), and the colour error of each visible pixel on the
// scale of `zef pack --report html` (RMS over the channels, 0 to 32 and up).
//   zef_overview OUT.png IMAGE MASK [IMAGE MASK]...
// The README's is made, in a build with -DZEF_BUILD_BENCH=ON, by
//   build/bench/zef_overview docs/overview.png examples/heart.png examples/heart_mask.png
//     examples/gem.png examples/gem_mask.png examples/smiley.png examples/smiley_mask.png
#include <archive/ZefDecode.h>
#include <writer/ZefEncodeMat.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kScale = 4;      // each pixel as kScale x kScale
constexpr int kGap = 12;       // between pictures
constexpr int kLabel = 22;     // the row of column names
constexpr double kTop = 32.0;  // the error that takes the last colour

cv::Vec3b Checker(int x, int y) {
  return ((x / 8 + y / 8) % 2) ? cv::Vec3b(204, 204, 204) : cv::Vec3b(255, 255, 255);
}

cv::Vec3b Over(const cv::Vec3b& colour, int alpha, const cv::Vec3b& under) {
  cv::Vec3b out;
  for (int c = 0; c < 3; ++c) out[c] = uint8_t((colour[c] * alpha + under[c] * (255 - alpha) + 127) / 255);
  return out;
}

// A picture of the image's pixels, magnified, over a checkerboard.
cv::Mat Shown(const cv::Mat& bgr, const cv::Mat& alpha) {
  cv::Mat out(bgr.rows * kScale, bgr.cols * kScale, CV_8UC3);
  for (int y = 0; y < out.rows; ++y) {
    for (int x = 0; x < out.cols; ++x) {
      out.at<cv::Vec3b>(y, x) =
          Over(bgr.at<cv::Vec3b>(y / kScale, x / kScale), alpha.at<uint8_t>(y / kScale, x / kScale), Checker(x, y));
    }
  }
  return out;
}

// The error of every pixel visible in the source or the archive.
cv::Mat ErrorMap(const cv::Mat& source, const cv::Mat& sourceAlpha, const cv::Mat& shown, const cv::Mat& shownAlpha) {
  cv::Mat ramp(1, 256, CV_8UC1);
  for (int i = 0; i < 256; ++i) ramp.at<uint8_t>(0, i) = uint8_t(i);
  cv::Mat colours;
  cv::applyColorMap(ramp, colours, cv::COLORMAP_INFERNO);
  cv::Mat bgr(source.size(), CV_8UC3), alpha(source.size(), CV_8UC1);
  for (int y = 0; y < source.rows; ++y) {
    for (int x = 0; x < source.cols; ++x) {
      const bool visible = sourceAlpha.at<uint8_t>(y, x) > 0 || shownAlpha.at<uint8_t>(y, x) > 0;
      double squares = 0;
      for (int c = 0; c < 3; ++c) {
        const double d = double(source.at<cv::Vec3b>(y, x)[c]) - double(shown.at<cv::Vec3b>(y, x)[c]);
        squares += d * d;
      }
      const double level = std::min(1.0, std::sqrt(squares / 3) / kTop);
      bgr.at<cv::Vec3b>(y, x) = colours.at<cv::Vec3b>(0, int(std::lround(level * 255)));
      alpha.at<uint8_t>(y, x) = visible ? 255 : 0;
    }
  }
  return Shown(bgr, alpha);
}

void Put(cv::Mat& canvas, const cv::Mat& picture, int x, int y) { picture.copyTo(canvas(cv::Rect(x, y, picture.cols, picture.rows))); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc % 2 != 0) {
    std::fprintf(stderr, "usage: zef_overview OUT.png IMAGE MASK [IMAGE MASK]...\n");
    return 2;
  }
  std::vector<cv::Mat> images, masks;
  for (int i = 2; i < argc; i += 2) {
    images.push_back(cv::imread(argv[i], cv::IMREAD_COLOR));
    masks.push_back(cv::imread(argv[i + 1], cv::IMREAD_GRAYSCALE));
    if (images.back().empty() || masks.back().empty()) {
      std::fprintf(stderr, "could not read %s or %s\n", argv[i], argv[i + 1]);
      return 1;
    }
  }
  zef::Options options;
  options.version = 3;
  options.alphaValues = 4;
  const zef::EncodeResult encoded = zef::EncodeMats(images, masks, options);
  if (!encoded.Ok()) {
    std::fprintf(stderr, "%s\n", encoded.message.c_str());
    return 1;
  }
  const zef::DecodeResult decoded = zef::Decode(encoded.bytes.data(), encoded.bytes.size());
  if (!decoded.Ok()) {
    std::fprintf(stderr, "%s\n", decoded.message.c_str());
    return 1;
  }

  int width = 0, height = kLabel;
  for (const cv::Mat& image : images) {
    width = std::max(width, 3 * image.cols * kScale + 4 * kGap);
    height += image.rows * kScale + kGap;
  }
  height += kGap;
  cv::Mat canvas(height, width, CV_8UC3, cv::Scalar(255, 255, 255));
  const int column = (width - kGap) / 3;
  const char* names[] = {"source", "archive", "difference"};
  for (int c = 0; c < 3; ++c) {
    cv::putText(canvas, names[c], cv::Point(kGap + c * column, kLabel - 6), cv::FONT_HERSHEY_SIMPLEX, 0.5,
                cv::Scalar(60, 60, 60), 1, cv::LINE_AA);
  }
  int y = kLabel;
  for (size_t i = 0; i < images.size(); ++i) {
    const zef::DecodedImage& image = decoded.images[i];
    const cv::Mat shown(int(image.height), int(image.width), CV_8UC3, const_cast<uint8_t*>(image.pixels.data()));
    cv::Mat shownAlpha(shown.size(), CV_8UC1);
    for (size_t p = 0; p < image.alphaCodes.size(); ++p) {
      shownAlpha.data[p] = zef::Alpha8(image.alphaCodes[p], decoded.info.alphaBits);
    }
    Put(canvas, Shown(images[i], masks[i]), kGap, y);
    Put(canvas, Shown(shown, shownAlpha), kGap + column, y);
    Put(canvas, ErrorMap(images[i], masks[i], shown, shownAlpha), kGap + 2 * column, y);
    y += images[i].rows * kScale + kGap;
  }
  if (!cv::imwrite(argv[1], canvas, {cv::IMWRITE_PNG_COMPRESSION, 9})) {
    std::fprintf(stderr, "could not write %s\n", argv[1]);
    return 1;
  }
  return 0;
}

#include "bench/IconSet.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

namespace zefbench {

namespace {

// Shapes are drawn without anti-aliasing at this many times the size and
// averaged down, which gives the edges their coverage.
constexpr int kSupersample = 8;
constexpr int kSides[] = {16, 20, 24, 32, 40, 48};
constexpr double kPi = 3.14159265358979323846;

// Uniform numbers from the raw generator: the standard distributions may
// differ between libraries, the generator itself does not.
class Dice {
 public:
  explicit Dice(uint32_t seed) : engine_(seed) {}
  double Unit() { return double(engine_()) / 4294967296.0; }
  double Between(double low, double high) { return low + (high - low) * Unit(); }
  int Below(int count) { return int(engine_() % uint32_t(count)); }

 private:
  std::mt19937 engine_;
};

cv::Vec3f HueColour(double hue, double saturation, double value) {
  const double h = std::fmod(hue, 1.0) * 6.0;
  const int sector = int(h) % 6;
  const double f = h - std::floor(h);
  const double p = value * (1 - saturation), q = value * (1 - saturation * f),
               t = value * (1 - saturation * (1 - f));
  double r = 0, g = 0, b = 0;
  switch (sector) {
    case 0: r = value, g = t, b = p; break;
    case 1: r = q, g = value, b = p; break;
    case 2: r = p, g = value, b = t; break;
    case 3: r = p, g = q, b = value; break;
    case 4: r = t, g = p, b = value; break;
    default: r = value, g = p, b = q; break;
  }
  return cv::Vec3f(float(b), float(g), float(r));
}

cv::Vec3f RandomColour(Dice& dice) {
  return HueColour(dice.Unit(), dice.Between(0.35, 1.0), dice.Between(0.45, 1.0));
}

// A filled shape as a 0/1 float mask at the supersampled size.
cv::Mat ShapeMask(Dice& dice, int side, double centreX, double centreY, double radius) {
  cv::Mat mask = cv::Mat::zeros(side, side, CV_8UC1);
  const cv::Point centre{int(centreX), int(centreY)};
  const int r = std::max(2, int(radius));
  switch (dice.Below(5)) {
    case 0: cv::circle(mask, centre, r, 255, cv::FILLED); break;
    case 1: {  // rounded square
      const int corner = int(r * dice.Between(0.2, 0.5));
      const cv::Rect inner(centre.x - r + corner, centre.y - r + corner, 2 * (r - corner), 2 * (r - corner));
      cv::rectangle(mask, cv::Rect(centre.x - r + corner, centre.y - r, 2 * (r - corner), 2 * r), 255, cv::FILLED);
      cv::rectangle(mask, cv::Rect(centre.x - r, centre.y - r + corner, 2 * r, 2 * (r - corner)), 255, cv::FILLED);
      for (const cv::Point& p : {inner.tl(), cv::Point(inner.br().x, inner.y), inner.br(),
                                 cv::Point(inner.x, inner.br().y)}) {
        cv::circle(mask, p, corner, 255, cv::FILLED);
      }
      break;
    }
    case 2: {  // ring
      cv::circle(mask, centre, r, 255, cv::FILLED);
      cv::circle(mask, centre, int(r * dice.Between(0.45, 0.7)), 0, cv::FILLED);
      break;
    }
    case 3: {  // star
      const int points = 5 + dice.Below(3);
      const double turn = dice.Unit();
      std::vector<cv::Point> outline;
      for (int i = 0; i < 2 * points; ++i) {
        const double angle = 2 * kPi * (i / (2.0 * points) + turn);
        const double reach = i % 2 == 0 ? r : r * 0.45;
        outline.emplace_back(int(centreX + reach * std::cos(angle)), int(centreY + reach * std::sin(angle)));
      }
      cv::fillPoly(mask, std::vector<std::vector<cv::Point>>{outline}, 255);
      break;
    }
    default: {  // rotated polygon
      const int corners = 3 + dice.Below(4);
      const double turn = dice.Unit();
      std::vector<cv::Point> outline;
      for (int i = 0; i < corners; ++i) {
        const double angle = 2 * kPi * (double(i) / corners + turn);
        outline.emplace_back(int(centreX + r * std::cos(angle)), int(centreY + r * std::sin(angle)));
      }
      cv::fillPoly(mask, std::vector<std::vector<cv::Point>>{outline}, 255);
      break;
    }
  }
  cv::Mat coverage;
  mask.convertTo(coverage, CV_32F, 1.0 / 255);
  return coverage;
}

// A linear or radial blend of two colours over the whole canvas.
cv::Mat Gradient(Dice& dice, int side, const cv::Vec3f& from, const cv::Vec3f& to) {
  cv::Mat field(side, side, CV_32FC3);
  const bool radial = dice.Below(3) == 0;
  const double angle = dice.Unit() * 2 * kPi;
  const double dx = std::cos(angle), dy = std::sin(angle);
  const double cx = side * dice.Between(0.3, 0.7), cy = side * dice.Between(0.25, 0.6);
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      double t = radial ? std::hypot(x - cx, y - cy) / (0.7 * side)
                        : 0.5 + ((x - side / 2.0) * dx + (y - side / 2.0) * dy) / side;
      t = std::clamp(t, 0.0, 1.0);
      field.at<cv::Vec3f>(y, x) = from * float(1 - t) + to * float(t);
    }
  }
  return field;
}

// Paints a layer of this colour and coverage over the premultiplied canvas.
void Over(cv::Mat& canvas, const cv::Mat& colour, const cv::Mat& coverage, float opacity) {
  for (int y = 0; y < canvas.rows; ++y) {
    for (int x = 0; x < canvas.cols; ++x) {
      const float a = coverage.at<float>(y, x) * opacity;
      if (a <= 0) continue;
      cv::Vec4f& dst = canvas.at<cv::Vec4f>(y, x);
      const cv::Vec3f& src = colour.at<cv::Vec3f>(y, x);
      for (int c = 0; c < 3; ++c) dst[c] = src[c] * a + dst[c] * (1 - a);
      dst[3] = a + dst[3] * (1 - a);
    }
  }
}

cv::Mat Flat(int side, const cv::Vec3f& colour) { return cv::Mat(side, side, CV_32FC3, cv::Scalar(colour[0], colour[1], colour[2])); }

}  // namespace

Icon MakeIcon(uint32_t number, int side) {
  Dice dice(0x1C0DE + number * 7919u);
  if (side <= 0) side = kSides[dice.Below(int(std::size(kSides)))];
  const int big = side * kSupersample;
  cv::Mat canvas(big, big, CV_32FC4, cv::Scalar::all(0));

  const double radius = big * dice.Between(0.34, 0.44);
  const double cx = big / 2.0, cy = big / 2.0;
  const cv::Mat base = ShapeMask(dice, big, cx, cy, radius);
  const cv::Vec3f c1 = RandomColour(dice), c2 = RandomColour(dice);

  // Soft shadow below and to the right.
  cv::Mat shadow;
  const cv::Mat shift = (cv::Mat_<double>(2, 3) << 1, 0, big * 0.04, 0, 1, big * 0.06);
  cv::warpAffine(base, shadow, shift, base.size());
  cv::GaussianBlur(shadow, shadow, cv::Size(), big * 0.035);
  Over(canvas, Flat(big, {0, 0, 0}), shadow, float(dice.Between(0.3, 0.55)));

  // The body, sometimes see-through, with a darker outline.
  Over(canvas, Gradient(dice, big, c1, c2), base, dice.Below(4) == 0 ? float(dice.Between(0.7, 0.9)) : 1.0f);
  cv::Mat inner;
  cv::erode(base, inner, cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(kSupersample * 2 + 1, kSupersample * 2 + 1)));
  Over(canvas, Flat(big, c1 * 0.45f), base - inner, 1.0f);

  // A glyph in other colours, on some icons two.
  const int glyphs = 1 + dice.Below(2);
  for (int g = 0; g < glyphs; ++g) {
    const double r = radius * dice.Between(0.3, 0.55);
    const cv::Mat glyph = ShapeMask(dice, big, cx + radius * dice.Between(-0.3, 0.3),
                                    cy + radius * dice.Between(-0.3, 0.3), r);
    const cv::Vec3f c3 = RandomColour(dice), c4 = RandomColour(dice);
    Over(canvas, Gradient(dice, big, c3, c4), glyph.mul(inner), 1.0f);
  }

  // A glossy highlight fading out towards the middle.
  cv::Mat gloss = cv::Mat::zeros(big, big, CV_32F);
  cv::ellipse(gloss, cv::Point(int(cx), int(cy - radius * 0.45)), cv::Size(int(radius * 0.8), int(radius * 0.5)), 0, 0,
              360, 1.0, cv::FILLED);
  for (int y = 0; y < big; ++y) {
    const float fade = float(std::clamp(1.0 - (y - (cy - radius)) / radius, 0.0, 1.0));
    gloss.row(y) *= fade;
  }
  Over(canvas, Flat(big, {1, 1, 1}), gloss.mul(inner), float(dice.Between(0.2, 0.5)));

  // Average down (premultiplied), then back to straight colour.
  cv::Mat small;
  cv::resize(canvas, small, cv::Size(side, side), 0, 0, cv::INTER_AREA);
  Icon icon{cv::Mat(side, side, CV_8UC3), cv::Mat(side, side, CV_8UC1)};
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      const cv::Vec4f p = small.at<cv::Vec4f>(y, x);
      const float a = std::clamp(p[3], 0.0f, 1.0f);
      const uint8_t alpha = uint8_t(std::lround(a * 255));
      icon.alpha.at<uint8_t>(y, x) = alpha;
      cv::Vec3b& out = icon.bgr.at<cv::Vec3b>(y, x);
      for (int c = 0; c < 3; ++c) {
        out[c] = alpha == 0 ? 0 : uint8_t(std::clamp(std::lround(p[c] / a * 255), 0L, 255L));
      }
    }
  }
  return icon;
}

cv::Mat ToBgra(const Icon& icon) {
  cv::Mat bgra;
  cv::merge(std::vector<cv::Mat>{icon.bgr, icon.alpha}, bgra);
  return bgra;
}

}  // namespace zefbench

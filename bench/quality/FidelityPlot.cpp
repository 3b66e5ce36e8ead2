#include "bench/quality/FidelityPlot.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace zefquality {

namespace {

constexpr int kPanelWidth = 560, kPanelHeight = 420;
constexpr int kLeft = 80, kRight = 20, kTop = 40, kBottom = 60;
constexpr int kLegendHeight = 30;
constexpr int kTicks = 5;
constexpr int kMarkerSize = 14;
constexpr int kFont = cv::FONT_HERSHEY_SIMPLEX;
const cv::Scalar kInk(40, 40, 40), kGrid(225, 225, 225), kPaper(255, 255, 255);
// One colour per format (BGR), repeated if there are more formats.
const cv::Scalar kColours[] = {{60, 60, 200}, {40, 140, 230}, {30, 170, 60},
                               {150, 120, 20}, {180, 60, 150}, {90, 90, 90}, {20, 110, 160}};
const cv::MarkerTypes kMarkers[] = {cv::MARKER_SQUARE, cv::MARKER_TRIANGLE_UP, cv::MARKER_DIAMOND,
                                    cv::MARKER_TRIANGLE_DOWN, cv::MARKER_CROSS, cv::MARKER_TILTED_CROSS,
                                    cv::MARKER_STAR};

struct Range {
  double low = INFINITY, high = -INFINITY;
  double step = 1;
  void Add(double value) { low = std::min(low, value), high = std::max(high, value); }
  // Widened to whole steps of 1, 2 or 5 times a power of ten, about kTicks
  // of them, with `margin` of room on either side.
  void Round(double margin) {
    if (!(low <= high)) low = 0, high = 1;
    low -= margin, high += margin;
    const double rough = std::max(high - low, 1e-9) / kTicks;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    step = power * (rough <= power ? 1 : rough <= 2 * power ? 2 : rough <= 5 * power ? 5 : 10);
    low = std::floor(low / step) * step;
    high = std::ceil(high / step) * step;
  }
};

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, std::fabs(value - std::round(value)) < 1e-6 ? "%.0f" : "%.1f", value);
  return text;
}

void Marker(cv::Mat& image, cv::Point at, int format) {
  const size_t n = size_t(format) % std::size(kMarkers);
  cv::drawMarker(image, at, kColours[n % std::size(kColours)], kMarkers[n], kMarkerSize, 2, cv::LINE_AA);
}

void DrawPanel(cv::Mat& image, const PlotPanel& panel, double target, int left) {
  Range x, y;
  for (const PlotPoint& point : panel.points) {
    if (!std::isfinite(point.psnr)) continue;
    x.Add(point.psnr), y.Add(point.kilobytes);
  }
  y.Add(0);
  x.Round(0.5), y.Round(y.high * 0.05);
  y.low = 0;
  const int x0 = left + kLeft, x1 = left + kPanelWidth - kRight, y0 = kTop + kPanelHeight - kBottom, y1 = kTop;
  const auto px = [&](double v) { return int(std::lround(x0 + (v - x.low) / (x.high - x.low) * (x1 - x0))); };
  const auto py = [&](double v) { return int(std::lround(y0 - (v - y.low) / (y.high - y.low) * (y0 - y1))); };
  for (double xv = x.low; xv <= x.high + x.step / 2; xv += x.step) {
    cv::line(image, {px(xv), y0}, {px(xv), y1}, kGrid);
    cv::putText(image, Number(xv), {px(xv) - 14, y0 + 20}, kFont, 0.45, kInk, 1, cv::LINE_AA);
  }
  for (double yv = y.low; yv <= y.high + y.step / 2; yv += y.step) {
    cv::line(image, {x0, py(yv)}, {x1, py(yv)}, kGrid);
    cv::putText(image, Number(yv), {x0 - 50, py(yv) + 5}, kFont, 0.45, kInk, 1, cv::LINE_AA);
  }
  if (target > x.low && target < x.high) {
    for (int yy = y1; yy < y0; yy += 8) cv::line(image, {px(target), yy}, {px(target), std::min(y0, yy + 4)}, kInk);
    cv::putText(image, "target " + Number(target) + " dB", {px(target) + 4, y1 + 16}, kFont, 0.4, kInk, 1,
                cv::LINE_AA);
  }
  cv::rectangle(image, {x0, y1}, {x1, y0}, kInk, 1);
  cv::putText(image, panel.title, {x0, y1 - 12}, kFont, 0.6, kInk, 1, cv::LINE_AA);
  cv::putText(image, "composite PSNR (dB)", {(x0 + x1) / 2 - 80, y0 + 45}, kFont, 0.5, kInk, 1, cv::LINE_AA);
  cv::Mat label(20, 170, CV_8UC3, kPaper);
  cv::putText(label, "archive bytes (KB)", {2, 15}, kFont, 0.5, kInk, 1, cv::LINE_AA);
  cv::rotate(label, label, cv::ROTATE_90_COUNTERCLOCKWISE);
  const int labelX = left + 6, labelY = (y0 + y1) / 2 - label.rows / 2;
  label.copyTo(image(cv::Rect(labelX, labelY, label.cols, label.rows)));
  for (const PlotPoint& point : panel.points) {
    if (std::isfinite(point.psnr)) Marker(image, {px(point.psnr), py(point.kilobytes)}, point.format);
  }
}

}  // namespace

bool WritePlot(const PlotData& data, const std::string& file) {
  const int panels = std::max<int>(1, int(data.panels.size()));
  const int rows = (int(data.formats.size()) + 2) / 3;
  cv::Mat image(kTop + kPanelHeight + rows * kLegendHeight + 10, panels * kPanelWidth, CV_8UC3, kPaper);
  for (size_t p = 0; p < data.panels.size(); ++p) DrawPanel(image, data.panels[p], data.targetPsnr, int(p) * kPanelWidth);
  const int columnWidth = image.cols / 3;
  for (size_t f = 0; f < data.formats.size(); ++f) {
    const int x = kLeft + int(f % 3) * columnWidth, y = kTop + kPanelHeight + int(f / 3) * kLegendHeight + 10;
    Marker(image, {x, y}, int(f));
    cv::putText(image, data.formats[f], {x + 14, y + 5}, kFont, 0.45, kInk, 1, cv::LINE_AA);
  }
  return cv::imwrite(file, image);
}

}  // namespace zefquality

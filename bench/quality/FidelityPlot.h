// The plot beside the fidelity table: archive bytes against composite
// PSNR, one panel per picture set, one marker shape per format.
#pragma once

#include <string>
#include <vector>

namespace zefquality {

struct PlotPoint {
  int format = 0;     // index into PlotData::formats: picks the marker
  double psnr = 0;    // dB, x
  double kilobytes = 0;  // y
};

struct PlotPanel {
  std::string title;
  std::vector<PlotPoint> points;
};

struct PlotData {
  std::vector<std::string> formats;
  std::vector<PlotPanel> panels;
  double targetPsnr = 0;  // drawn as a dashed line; 0: none
};

// Draws the plot and writes it as a PNG file; false when it cannot be
// written. Points with an infinite or NaN PSNR are left out.
bool WritePlot(const PlotData& data, const std::string& file);

}  // namespace zefquality

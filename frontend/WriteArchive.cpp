#include "frontend/WriteArchive.h"

#include <cstdio>
#include <vector>

#include "frontend/Console.h"
#include "frontend/LoadImages.h"

namespace zef::frontend {

namespace {

constexpr double kBytesPerKilobyte = 1024.0;
constexpr double kPercent = 0.01;

}  // namespace

std::string SizeReport(uint64_t sourceBytes, uint64_t archiveBytes) {
  const double sourceKilobytes = double(sourceBytes) / kBytesPerKilobyte;
  const double archiveKilobytes = double(archiveBytes) / kBytesPerKilobyte;
  const double percentage = double(archiveBytes) / (double(sourceBytes) * kPercent);
  char line[256];
  std::snprintf(line, sizeof line,
                "Uncompressed Size: %2.1f KB, Compressed Size: %2.1f KB (%2.2f%%)",
                sourceKilobytes, archiveKilobytes, percentage);
  return line;
}

bool WriteArchive(RunState& run) {
  ZefImgWriter& writer = run.writer;
  writer.SetVersion(run.archiveVersion);
  writer.setAlpha(run.useMask ? run.alphaValues : 0);
  writer.SetStartIndex(run.startIndex);
  const std::vector<cv::Mat> noMasks;
  if (!writer.Write(run.outputFileName, run.sourceImages,
                    run.useMask ? run.sourceMasks : noMasks)) {
    PrintLine("error while writing: " + writer.GetError());
    return false;
  }
  PrintLine("wrote Bitmap(s) to " + run.outputFileName);
  PrintLine(SizeReport(run.totalSourceBytes, FileSize(run.outputFileName)));
  return true;
}

}  // namespace zef::frontend

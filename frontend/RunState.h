// The fields of one run of the console tool. Every front-end step reads and
// writes them directly; nothing else passes between the steps.
#pragma once

#include <opencv2/core.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "archive/ZefFormat.h"
#include "writer/ZefImgWriter.h"

namespace zef::frontend {

struct RunState {
  // From the conversion script; the n-th mask belongs to the n-th image.
  std::vector<std::string> imageFileNames;
  std::vector<std::string> maskFileNames;
  // Loaded images (8-bit, 3 channels) and masks (8-bit, 1 channel).
  std::vector<cv::Mat> sourceImages;
  std::vector<cv::Mat> sourceMasks;

  std::string outputFileName;  // with its extension already added
  int32_t startIndex = 0;
  bool useMask = true;  // until the script says otherwise
  int32_t alphaValues = 2;
  int32_t archiveVersion = kVersion3;
  // 64 bits so that sources beyond 2 GiB are reported at their true size.
  uint64_t totalSourceBytes = 0;

  bool showOriginalImages = false;
  bool showConvertedImages = false;
  bool showImages = false;

  // One writer for the whole run: the colour check and the write share it.
  ZefImgWriter writer;

  // Frees the loaded pictures; the file names stay.
  void ReleaseImages() {
    sourceImages.clear();
    sourceMasks.clear();
  }
};

}  // namespace zef::frontend

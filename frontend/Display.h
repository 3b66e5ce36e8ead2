// Windows that show source images and masks before writing, and the images
// of an archive.
#pragma once

#include <string>

#include "frontend/RunState.h"

namespace zef::frontend {

struct WindowPosition {
  int x;
  int y;
};

// Windows cascade down a column and start the next column at the top once
// a column is full.
class WindowCascade {
 public:
  WindowCascade(int left, int columnStep) : x_(left), columnStep_(columnStep) {}
  // The position of the next window.
  WindowPosition Next();

 private:
  int x_;
  int y_ = 0;
  int columnStep_;
};

// Where source image windows and archive image windows go.
WindowCascade SourceImageCascade();
WindowCascade ArchiveImageCascade();

// One window per source image, with its mask beside it. The images stay the
// run's.
void ShowSourceImages(const RunState& run);

// Reads the archive and shows each of its images in a window. False, with
// the reader's message printed, when the archive cannot be read.
bool ShowArchiveImages(const std::string& fileName);

// Lets open windows repaint and react; does nothing while none are open.
void PumpWindowEvents();

}  // namespace zef::frontend

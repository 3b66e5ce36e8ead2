// A host LVGL for the lv_zef tests: a display (RGB565 unless told) rendered
// in bands of a tenth of the screen whose flush copies into a framebuffer,
// LVGL's log kept, and a screen of icons built from any image sources.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

extern "C" {
#include "lv_zef.h"
#include "src/misc/cache/lv_cache.h"
}

namespace zeftest {

inline constexpr int kScreenWidth = 240;
inline constexpr int kScreenHeight = 160;

// The display's pixels, row after row, in its colour format.
using Frame = std::vector<uint8_t>;

// Pixels that differ between two frames of one format.
size_t Differences(const Frame& a, const Frame& b);

class LvglScreen {
 public:
  // lv_init, lv_zef_init and the display; `bandLines` of the screen per
  // render buffer.
  explicit LvglScreen(int bandLines = kScreenHeight / 10, lv_color_format_t format = LV_COLOR_FORMAT_RGB565);
  ~LvglScreen();
  LvglScreen(const LvglScreen&) = delete;
  LvglScreen& operator=(const LvglScreen&) = delete;

  // Redraws the whole screen and returns what was flushed.
  Frame Render();
  // Removes every object but the screen's background.
  void Clear();
  // What LVGL logged since the last call.
  std::vector<std::string> TakeLog();

 private:
  lv_display_t* display_ = nullptr;
  std::vector<uint32_t> buffer_;  // words, for every format's alignment
};

// The image at each archive position (nullptr past the last).
using ImageSource = std::function<const void*(uint32_t position)>;

// A screen of `count` icons and more: a grid of all of them, overlapping
// and hanging over the top and left edges, some clipped by a parent
// object, some past the right and bottom edges, some with image_opa and
// image_recolor; with `transforms`, rotated and enlarged ones too.
void BuildIconScreen(const ImageSource& source, uint32_t count, bool transforms);

// LVGL's own ARGB8888 images holding the library's decode of an archive.
class ReferenceImages {
 public:
  ReferenceImages(const uint8_t* archive, size_t size);
  // LVGL keeps pointers to the descriptors: never copied.
  ReferenceImages(const ReferenceImages&) = delete;
  ReferenceImages& operator=(const ReferenceImages&) = delete;
  uint32_t Count() const { return uint32_t(descriptors_.size()); }
  const void* operator()(uint32_t position) const;

 private:
  std::vector<std::vector<uint8_t>> pixels_;
  std::vector<lv_image_dsc_t> descriptors_;
};

}  // namespace zeftest

#include "lvgl/LvglScreen.h"

#include <cstring>

#include "archive/ZefDecode.h"

namespace zeftest {
namespace {

Frame framebuffer;
size_t pixelBytes = 2;
std::vector<std::string> logged;

void Flush(lv_display_t* display, const lv_area_t* area, uint8_t* pixels) {
  const size_t row = size_t(lv_area_get_width(area)) * pixelBytes;
  for (int y = area->y1; y <= area->y2; ++y) {
    std::memcpy(&framebuffer[(size_t(y) * kScreenWidth + area->x1) * pixelBytes],
                pixels + size_t(y - area->y1) * row, row);
  }
  lv_display_flush_ready(display);
}

void Log(lv_log_level_t, const char* text) { logged.emplace_back(text); }

lv_obj_t* Place(lv_obj_t* parent, const void* source, int x, int y) {
  lv_obj_t* image = lv_image_create(parent);
  lv_image_set_src(image, source);
  lv_obj_set_pos(image, x, y);
  return image;
}

}  // namespace

size_t Differences(const Frame& a, const Frame& b) {
  const size_t bytes = a.size() / (size_t(kScreenWidth) * kScreenHeight);
  size_t n = 0;
  for (size_t i = 0; i + bytes <= a.size(); i += bytes) n += std::memcmp(&a[i], &b[i], bytes) != 0 ? 1 : 0;
  return n;
}

LvglScreen::LvglScreen(int bandLines, lv_color_format_t format) {
  pixelBytes = lv_color_format_get_size(format);
  framebuffer.assign(size_t(kScreenWidth) * kScreenHeight * pixelBytes, 0);
  buffer_.resize((size_t(kScreenWidth) * bandLines * pixelBytes + 3) / 4);
  lv_init();
  lv_log_register_print_cb(Log);
  lv_zef_init();
  display_ = lv_display_create(kScreenWidth, kScreenHeight);
  lv_display_set_color_format(display_, format);
  lv_display_set_buffers(display_, buffer_.data(), nullptr, uint32_t(buffer_.size() * 4),
                         LV_DISPLAY_RENDER_MODE_PARTIAL);
  lv_display_set_flush_cb(display_, Flush);
  lv_obj_t* screen = lv_screen_active();
  // A gradient, so that blending shows against many colours.
  lv_obj_set_style_bg_color(screen, lv_color_hex(0x20405f), 0);
  lv_obj_set_style_bg_grad_color(screen, lv_color_hex(0xd09030), 0);
  lv_obj_set_style_bg_grad_dir(screen, LV_GRAD_DIR_VER, 0);
  lv_obj_set_style_bg_opa(screen, LV_OPA_COVER, 0);
  logged.clear();
}

LvglScreen::~LvglScreen() {
  lv_zef_deinit();
  lv_deinit();
}

Frame LvglScreen::Render() {
  std::fill(framebuffer.begin(), framebuffer.end(), 0);
  lv_obj_invalidate(lv_screen_active());
  lv_refr_now(display_);
  return framebuffer;
}

void LvglScreen::Clear() { lv_obj_clean(lv_screen_active()); }

std::vector<std::string> LvglScreen::TakeLog() {
  std::vector<std::string> taken;
  taken.swap(logged);
  return taken;
}

void BuildIconScreen(const ImageSource& source, uint32_t count, bool transforms) {
  lv_obj_t* screen = lv_screen_active();
  for (uint32_t n = 0; n < count; ++n) {
    Place(screen, source(n), int(n % 8) * 29 - 6, int(n / 8) * 27 - 5);
  }
  // A panel that clips the icons crossing its edges.
  lv_obj_t* panel = lv_obj_create(screen);
  lv_obj_set_size(panel, 70, 36);
  lv_obj_set_pos(panel, 20, 92);
  lv_obj_remove_flag(panel, LV_OBJ_FLAG_SCROLLABLE);
  Place(panel, source(1 % count), -10, -8);
  Place(panel, source(2 % count), 20, 10);
  Place(panel, source(3 % count), 50, 16);
  // Past the right and bottom edges.
  Place(screen, source(4 % count), kScreenWidth - 14, 100);
  Place(screen, source(5 % count), 110, kScreenHeight - 12);
  Place(screen, source(6 % count), kScreenWidth - 20, kScreenHeight - 18);
  // Styled by LVGL on the decoded pixels.
  lv_obj_t* faded = Place(screen, source(7 % count), 100, 96);
  lv_obj_set_style_image_opa(faded, 120, 0);
  lv_obj_t* tinted = Place(screen, source(8 % count), 120, 110);
  lv_obj_set_style_image_recolor(tinted, lv_color_hex(0xff2000), 0);
  lv_obj_set_style_image_recolor_opa(tinted, 140, 0);
  lv_obj_t* both = Place(screen, source(9 % count), 140, 98);
  lv_obj_set_style_image_opa(both, 200, 0);
  lv_obj_set_style_image_recolor(both, lv_color_hex(0x00c0ff), 0);
  lv_obj_set_style_image_recolor_opa(both, 90, 0);
  if (transforms) {
    lv_obj_t* turned = Place(screen, source(10 % count), 175, 92);
    lv_image_set_rotation(turned, 300);
    lv_obj_t* larger = Place(screen, source(11 % count), 196, 118);
    lv_image_set_scale(larger, 384);
    lv_obj_t* smaller = Place(screen, source(12 % count), 60, 130);
    lv_image_set_scale(smaller, 180);
  }
}

ReferenceImages::ReferenceImages(const uint8_t* archive, size_t size) {
  const zef::DecodeResult decoded = zef::Decode(archive, size);
  if (!decoded.Ok()) return;
  const uint8_t bits = decoded.info.alphaBits;
  for (const zef::DecodedImage& image : decoded.images) {
    std::vector<uint8_t> pixels(size_t(image.width) * image.height * 4);
    for (size_t n = 0; n < size_t(image.width) * image.height; ++n) {
      std::memcpy(&pixels[n * 4], &image.pixels[n * 3], 3);
      pixels[n * 4 + 3] = image.alphaCodes.empty() ? 255 : zef::Alpha8(image.alphaCodes[n], bits);
    }
    pixels_.push_back(std::move(pixels));
  }
  descriptors_.resize(pixels_.size());
  for (size_t n = 0; n < pixels_.size(); ++n) {
    lv_image_dsc_t& d = descriptors_[n];
    std::memset(&d, 0, sizeof d);
    d.header.magic = LV_IMAGE_HEADER_MAGIC;
    d.header.cf = LV_COLOR_FORMAT_ARGB8888;
    d.header.w = decoded.images[n].width;
    d.header.h = decoded.images[n].height;
    d.header.stride = decoded.images[n].width * 4;
    d.data_size = uint32_t(pixels_[n].size());
    d.data = pixels_[n].data();
  }
}

const void* ReferenceImages::operator()(uint32_t position) const {
  return position < descriptors_.size() ? &descriptors_[position] : nullptr;
}

}  // namespace zeftest

// A screen of icons in LVGL, redrawn again and again, from each image
// format a small device would keep them in: .zef through lv_zef, LVGL's
// RGB565A8 uncompressed, and RGB565A8 LZ4-compressed by LVGL's bundled LZ4
// (its own compressed image, which its image decoder decompresses whole);
// with the image cache off, and on against ARGB8888 images, which LVGL
// draws as its cache would hold them. Per frame: the time, the peak of
// LVGL's heap while drawing (lv_mem_monitor), and the flash bytes of the
// images. All in one run, so that the ratios compare like with like.
//   zef_lvgl_bench [FRAMES]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "archive/ZefDecode.h"

extern "C" {
#include "lv_zef.h"
#include "src/misc/cache/lv_cache.h"
#include "src/libs/lz4/lz4.h"
}

namespace {

constexpr int kWidth = 240;
constexpr int kHeight = 160;
constexpr int kBandLines = kHeight / 10;
constexpr int kColumns = 7;
constexpr int kRows = 5;
constexpr uint32_t kCacheBytes = 1024 * 1024;

// Targets of the decoder against LVGL's formats.
constexpr double kOffOverLz4 = 0.5;
constexpr double kOffOverPlain = 1.0;
constexpr double kOnOverArgb = 1.1;
constexpr double kFlashOverLz4 = 0.8;
constexpr long kHeapAboveLvgl = 2048;

std::vector<uint16_t> framebuffer(size_t(kWidth) * kHeight);
std::vector<uint16_t> band(size_t(kWidth) * kBandLines);

void Flush(lv_display_t* display, const lv_area_t* area, uint8_t* pixels) {
  const int width = lv_area_get_width(area);
  for (int y = area->y1; y <= area->y2; ++y) {
    std::memcpy(&framebuffer[size_t(y) * kWidth + area->x1], pixels + size_t(y - area->y1) * width * 2,
                size_t(width) * 2);
  }
  lv_display_flush_ready(display);
}

struct Icon {
  int width = 0, height = 0;
  std::vector<uint8_t> bgra;  // B, G, R, A per pixel
};

// Every picture of the folder with the mask beside it, in the order zef
// packs them.
std::vector<Icon> LoadIcons(const std::vector<std::string>& names, const std::string& folder) {
  std::vector<Icon> icons;
  for (const std::string& name : names) {
    const cv::Mat colour = cv::imread(folder + "/" + name + ".png", cv::IMREAD_COLOR);
    const cv::Mat mask = cv::imread(folder + "/" + name + "_mask.png", cv::IMREAD_GRAYSCALE);
    if (colour.empty()) continue;
    Icon icon;
    icon.width = colour.cols;
    icon.height = colour.rows;
    for (int y = 0; y < colour.rows; ++y) {
      for (int x = 0; x < colour.cols; ++x) {
        const cv::Vec3b p = colour.at<cv::Vec3b>(y, x);
        icon.bgra.insert(icon.bgra.end(), {p[0], p[1], p[2], mask.empty() ? uint8_t(255) : mask.at<uint8_t>(y, x)});
      }
    }
    icons.push_back(std::move(icon));
  }
  return icons;
}

// LVGL images of one format: the descriptors and the bytes they point at.
struct ImageSet {
  std::string name;
  std::vector<std::vector<uint8_t>> data;
  std::vector<lv_image_dsc_t> images;
  size_t flashBytes = 0;
  std::vector<const void*> sources;  // lv_zef's descriptors, when not `images`

  const void* Source(size_t n) const {
    return sources.empty() ? static_cast<const void*>(&images[n % images.size()]) : sources[n % sources.size()];
  }
};

lv_image_dsc_t Descriptor(int width, int height, lv_color_format_t format, uint32_t stride,
                          const std::vector<uint8_t>& data) {
  lv_image_dsc_t d;
  std::memset(&d, 0, sizeof d);
  d.header.magic = LV_IMAGE_HEADER_MAGIC;
  d.header.cf = format;
  d.header.w = uint32_t(width);
  d.header.h = uint32_t(height);
  d.header.stride = stride;
  d.data_size = uint32_t(data.size());
  d.data = data.data();
  return d;
}

std::vector<uint8_t> Rgb565A8(const Icon& icon) {
  const size_t pixels = size_t(icon.width) * icon.height;
  std::vector<uint8_t> plane(pixels * 3);
  for (size_t n = 0; n < pixels; ++n) {
    const uint8_t* p = &icon.bgra[n * 4];
    const uint16_t c = uint16_t((p[2] >> 3) << 11 | (p[1] >> 2) << 5 | p[0] >> 3);
    std::memcpy(&plane[n * 2], &c, 2);
    plane[pixels * 2 + n] = p[3];
  }
  return plane;
}

ImageSet PlainSet(const std::vector<Icon>& icons) {
  ImageSet set;
  set.name = "RGB565A8";
  for (const Icon& icon : icons) set.data.push_back(Rgb565A8(icon));
  for (size_t n = 0; n < icons.size(); ++n) {
    set.images.push_back(Descriptor(icons[n].width, icons[n].height, LV_COLOR_FORMAT_RGB565A8,
                                    uint32_t(icons[n].width) * 2, set.data[n]));
    set.flashBytes += set.data[n].size();
  }
  return set;
}

ImageSet Lz4Set(const std::vector<Icon>& icons) {
  ImageSet set;
  set.name = "RGB565A8 LZ4";
  for (const Icon& icon : icons) {
    const std::vector<uint8_t> plane = Rgb565A8(icon);
    std::vector<uint8_t> packed(12 + size_t(LZ4_compressBound(int(plane.size()))));
    const int size = LZ4_compress_default(reinterpret_cast<const char*>(plane.data()),
                                          reinterpret_cast<char*>(packed.data() + 12), int(plane.size()),
                                          int(packed.size() - 12));
    const uint32_t header[3] = {LV_IMAGE_COMPRESS_LZ4, uint32_t(size), uint32_t(plane.size())};
    std::memcpy(packed.data(), header, sizeof header);
    packed.resize(12 + size_t(size));
    set.data.push_back(std::move(packed));
  }
  for (size_t n = 0; n < icons.size(); ++n) {
    lv_image_dsc_t d = Descriptor(icons[n].width, icons[n].height, LV_COLOR_FORMAT_RGB565A8,
                                  uint32_t(icons[n].width) * 2, set.data[n]);
    d.header.flags = LV_IMAGE_FLAGS_COMPRESSED;
    set.images.push_back(d);
    set.flashBytes += set.data[n].size();
  }
  return set;
}

ImageSet ArgbSet(const zef::DecodeResult& decoded) {
  ImageSet set;
  set.name = "ARGB8888";
  for (const zef::DecodedImage& image : decoded.images) {
    std::vector<uint8_t> pixels(size_t(image.width) * image.height * 4);
    for (size_t n = 0; n < size_t(image.width) * image.height; ++n) {
      std::memcpy(&pixels[n * 4], &image.pixels[n * 3], 3);
      pixels[n * 4 + 3] = image.alphaCodes.empty() ? 255 : zef::Alpha8(image.alphaCodes[n], decoded.info.alphaBits);
    }
    set.data.push_back(std::move(pixels));
  }
  for (size_t n = 0; n < decoded.images.size(); ++n) {
    const zef::DecodedImage& image = decoded.images[n];
    set.images.push_back(Descriptor(int(image.width), int(image.height), LV_COLOR_FORMAT_ARGB8888,
                                    image.width * 4, set.data[n]));
    set.flashBytes += set.data[n].size();
  }
  return set;
}

struct Measure {
  double microseconds = 0;  // per frame
  long heapPeak = 0;        // bytes above the heap in use before the first frame
};

Measure Run(const ImageSet& set, bool cache, int frames, lv_zef_archive_t* archive) {
  lv_init();
  lv_zef_init();
  lv_display_t* display = lv_display_create(kWidth, kHeight);
  lv_display_set_color_format(display, LV_COLOR_FORMAT_RGB565);
  lv_display_set_buffers(display, band.data(), nullptr, uint32_t(band.size() * 2), LV_DISPLAY_RENDER_MODE_PARTIAL);
  lv_display_set_flush_cb(display, Flush);
  lv_image_cache_resize(cache ? kCacheBytes : 0, true);
  lv_obj_t* screen = lv_screen_active();
  lv_obj_set_style_bg_color(screen, lv_color_hex(0x30506f), 0);
  lv_obj_set_style_bg_opa(screen, LV_OPA_COVER, 0);
  for (int n = 0; n < kColumns * kRows; ++n) {
    lv_obj_t* image = lv_image_create(screen);
    lv_image_set_src(image, set.Source(size_t(n)));
    lv_obj_set_pos(image, (n % kColumns) * 34 + 2, (n / kColumns) * 32);
  }
  lv_mem_monitor_t before;
  lv_mem_monitor(&before);
  const long inUse = long(before.total_size - before.free_size);
  // One frame first, so that a cached run measures frames from the cache.
  lv_obj_invalidate(screen);
  lv_refr_now(display);
  const auto start = std::chrono::steady_clock::now();
  for (int n = 0; n < frames; ++n) {
    lv_obj_invalidate(screen);
    lv_refr_now(display);
  }
  const auto stop = std::chrono::steady_clock::now();
  lv_mem_monitor_t after;
  lv_mem_monitor(&after);
  Measure m;
  m.microseconds = std::chrono::duration<double, std::micro>(stop - start).count() / frames;
  m.heapPeak = long(after.max_used) - inUse;
  if (archive) lv_zef_archive_close(archive);
  lv_zef_deinit();
  lv_deinit();
  return m;
}

void Target(const char* what, double ratio, double target) {
  std::printf("  %-52s %6.2f  target <= %.2f  %s\n", what, ratio, target, ratio <= target ? "met" : "NOT MET");
}

}  // namespace

int main(int argc, char** argv) {
  // Enough frames that the ratios hold to a few hundredths on a shared machine.
  const int frames = argc > 1 ? std::atoi(argv[1]) : 2000;
  if (frames <= 0) {
    std::fprintf(stderr, "usage: zef_lvgl_bench [FRAMES]\n");
    return 2;
  }
  std::vector<uint8_t> archiveBytes;
  if (FILE* file = std::fopen(ZEF_LVGL_BENCH_ARCHIVE, "rb")) {
    int c;
    while ((c = std::fgetc(file)) != EOF) archiveBytes.push_back(uint8_t(c));
    std::fclose(file);
  }
  const zef::DecodeResult decoded = zef::Decode(archiveBytes.data(), archiveBytes.size());
  if (!decoded.Ok()) {
    std::fprintf(stderr, "zef_lvgl_bench: %s: %s\n", ZEF_LVGL_BENCH_ARCHIVE, decoded.message.c_str());
    return 1;
  }
  const std::vector<std::string> names = {"back", "battery", "bell", "cancel", "home", "info", "lock",
                                          "menu", "minus", "next", "ok", "pause", "play", "plus",
                                          "previous", "settings", "stop", "volume", "warning", "wifi"};
  const std::vector<Icon> icons = LoadIcons(names, ZEF_LVGL_BENCH_ICONS);
  if (icons.size() != names.size() || decoded.images.size() != names.size()) {
    std::fprintf(stderr, "zef_lvgl_bench: the icons of %s are missing\n", ZEF_LVGL_BENCH_ICONS);
    return 1;
  }

  lv_zef_archive_t archive = LV_ZEF_ARCHIVE_MEMORY(archiveBytes.data(), uint32_t(archiveBytes.size()));
  std::vector<lv_zef_image_t> zefImages(names.size());
  ImageSet zefSet;
  zefSet.name = ".zef (version 4, 40 dB)";
  zefSet.flashBytes = archiveBytes.size();
  for (uint32_t n = 0; n < names.size(); ++n) zefSet.sources.push_back(lv_zef_image_init(&zefImages[n], &archive, n));
  const ImageSet plain = PlainSet(icons);
  const ImageSet lz4 = Lz4Set(icons);
  const ImageSet argb = ArgbSet(decoded);

  std::printf("lv_zef in LVGL %d.%d.%d: %dx%d RGB565 display, bands of %d lines, %d icons, %d frames\n",
              LVGL_VERSION_MAJOR, LVGL_VERSION_MINOR, LVGL_VERSION_PATCH, kWidth, kHeight, kBandLines,
              kColumns * kRows, frames);
  std::printf("  %-28s %-6s %12s %14s %12s\n", "images", "cache", "us/frame", "heap peak (B)", "flash (B)");
  struct Row {
    const ImageSet* set;
    bool cache;
    lv_zef_archive_t* archive;
    Measure m;
  } rows[] = {{&zefSet, false, &archive, {}}, {&plain, false, nullptr, {}}, {&lz4, false, nullptr, {}},
              {&zefSet, true, &archive, {}},  {&argb, false, nullptr, {}},  {&lz4, true, nullptr, {}}};
  for (Row& row : rows) {
    row.m = Run(*row.set, row.cache, frames, row.archive);
    std::printf("  %-28s %-6s %12.1f %14ld %12zu\n", row.set->name.c_str(), row.cache ? "on" : "off",
                row.m.microseconds, row.m.heapPeak, row.set->flashBytes);
  }
  std::printf("targets:\n");
  Target("cache off: .zef time / LZ4 RGB565A8 time", rows[0].m.microseconds / rows[2].m.microseconds, kOffOverLz4);
  Target("cache off: .zef time / RGB565A8 time", rows[0].m.microseconds / rows[1].m.microseconds, kOffOverPlain);
  Target("cache on: .zef time / ARGB8888 time", rows[3].m.microseconds / rows[4].m.microseconds, kOnOverArgb);
  Target("flash: .zef bytes / LZ4 RGB565A8 bytes", double(zefSet.flashBytes) / double(lz4.flashBytes),
         kFlashOverLz4);
  const long above = rows[0].m.heapPeak - rows[1].m.heapPeak;
  std::printf("  %-52s %6ld  target <= %ld  %s\n", "cache off: .zef heap peak above RGB565A8's (bytes)", above,
              kHeapAboveLvgl, above <= kHeapAboveLvgl ? "met" : "NOT MET");
  return 0;
}

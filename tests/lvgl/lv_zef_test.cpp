// lv_zef in the real LVGL: a screen of icons drawn from .zef archives
// equals the same screen drawn from LVGL's own ARGB8888 images of the
// library's decode, from memory and from an lv_fs driver, with the image
// cache off and on; a failed read at any call or a damaged archive gives
// LVGL's path for an image it cannot decode, never a crash; and a band
// goes on where the band above left an image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "writer/ZefEncode.h"

#include "lvgl/LvglScreen.h"

extern "C" {
#include "icons3.h"
#include "icons3_images.h"
#include "icons4.h"
#include "icons4_images.h"
}

namespace zeftest {
namespace {

#define ZEF_ICONS(v)                                                                                   \
  {&v##_back, &v##_battery, &v##_bell,     &v##_cancel, &v##_home,     &v##_info,  &v##_lock,         \
   &v##_menu, &v##_minus,   &v##_next,     &v##_ok,     &v##_pause,    &v##_play,  &v##_plus,         \
   &v##_previous, &v##_settings, &v##_stop, &v##_volume, &v##_warning, &v##_wifi}
const lv_image_dsc_t* const kVersion3[] = ZEF_ICONS(v3);
const lv_image_dsc_t* const kVersion4[] = ZEF_ICONS(v4);
constexpr uint32_t kIcons = sizeof kVersion3 / sizeof kVersion3[0];

struct Archive {
  const char* name;
  const uint8_t* bytes;
  size_t size;
  const lv_image_dsc_t* const* images;
};
const Archive kArchives[] = {{"version3", icons3, icons3_size, kVersion3},
                             {"version4", icons4, icons4_size, kVersion4}};

// Found by position: the generated descriptor whose source is there.
const void* Generated(const Archive& archive, uint32_t position) {
  for (uint32_t n = 0; n < kIcons; ++n) {
    const auto* source = reinterpret_cast<const lv_zef_source_t*>(archive.images[n]->data);
    if (source->position == position) return archive.images[n];
  }
  return nullptr;
}

void PrintTo(const Archive& archive, std::ostream* out) { *out << archive.name; }

// The archive with one byte of image data changed so that the decoder's
// check refuses it (not every change is one it can see).
std::vector<uint8_t> Damaged(const Archive& archive) {
  std::vector<uint8_t> bytes(archive.bytes, archive.bytes + archive.size);
  for (size_t at = bytes.size() * 2 / 3; at < bytes.size(); ++at) {
    bytes[at] ^= 0x5a;
    zefdec_archive opened;
    if (zefdec_open(&opened, bytes.data(), bytes.size()) != ZEFDEC_OK) return bytes;
    bytes[at] ^= 0x5a;
  }
  return {};
}

// The largest difference of one channel of two RGB565 frames, in steps of
// that channel.
int LargestStep(const Frame& a, const Frame& b) {
  int largest = 0;
  for (size_t i = 0; i + 1 < a.size(); i += 2) {
    uint16_t p, q;
    std::memcpy(&p, &a[i], 2);
    std::memcpy(&q, &b[i], 2);
    for (const auto& [shift, mask] : {std::pair{11, 0x1f}, std::pair{5, 0x3f}, std::pair{0, 0x1f}}) {
      largest = std::max(largest, std::abs((p >> shift & mask) - (q >> shift & mask)));
    }
  }
  return largest;
}

bool Mentions(const std::vector<std::string>& log, const char* text) {
  return std::any_of(log.begin(), log.end(),
                     [text](const std::string& line) { return line.find(text) != std::string::npos; });
}

// An lv_fs driver on letter 'M' whose one file is an archive in memory;
// it counts opens, reads and bytes and fails the read it is told to.
struct MemoryDrive {
  const uint8_t* bytes = nullptr;
  uint32_t size = 0;
  uint32_t position = 0;
  uint32_t opens = 0;
  uint64_t reads = 0;
  uint64_t bytesRead = 0;
  uint64_t failAt = UINT64_MAX;  // the number of the read that fails
  uint64_t failures = 0;
  lv_fs_drv_t driver{};

  void Register() {
    lv_fs_drv_init(&driver);
    driver.letter = 'M';
    driver.user_data = this;
    driver.open_cb = [](lv_fs_drv_t* d, const char* path, lv_fs_mode_t) -> void* {
      auto* self = static_cast<MemoryDrive*>(d->user_data);
      if (std::strcmp(path, "icons.zef") != 0) return nullptr;
      ++self->opens;
      self->position = 0;
      return self;
    };
    driver.close_cb = [](lv_fs_drv_t*, void*) { return LV_FS_RES_OK; };
    driver.read_cb = [](lv_fs_drv_t*, void* file, void* buffer, uint32_t length, uint32_t* read) {
      auto* self = static_cast<MemoryDrive*>(file);
      if (self->reads++ == self->failAt) {
        ++self->failures;
        *read = 0;
        return LV_FS_RES_HW_ERR;
      }
      const uint32_t n = std::min(length, self->size - std::min(self->position, self->size));
      std::memcpy(buffer, self->bytes + self->position, n);
      self->position += n;
      self->bytesRead += n;
      *read = n;
      return LV_FS_RES_OK;
    };
    driver.seek_cb = [](lv_fs_drv_t*, void* file, uint32_t offset, lv_fs_whence_t whence) {
      auto* self = static_cast<MemoryDrive*>(file);
      if (whence == LV_FS_SEEK_SET) self->position = offset;
      else if (whence == LV_FS_SEEK_CUR) self->position += offset;
      else self->position = self->size + offset;
      return LV_FS_RES_OK;
    };
    driver.tell_cb = [](lv_fs_drv_t*, void* file, uint32_t* at) {
      *at = static_cast<MemoryDrive*>(file)->position;
      return LV_FS_RES_OK;
    };
    lv_fs_drv_register(&driver);
  }
};

class LvZefScreenTest : public ::testing::TestWithParam<Archive> {};

TEST_P(LvZefScreenTest, GeneratedNamesAreThoseOfThePackHeader) {
  const Archive& a = GetParam();
  const auto position = [](const lv_image_dsc_t* image) {
    return reinterpret_cast<const lv_zef_source_t*>(image->data)->position;
  };
  const bool version3 = a.images == kVersion3;
  EXPECT_EQ(position(a.images[4]), version3 ? uint32_t(V3_HOME) : uint32_t(V4_HOME));
  EXPECT_EQ(a.images[4]->header.w, version3 ? uint32_t(V3_HOME_WIDTH) : uint32_t(V4_HOME_WIDTH));
  EXPECT_EQ(position(a.images[19]), version3 ? uint32_t(V3_WIFI) : uint32_t(V4_WIFI));
  EXPECT_EQ(a.images[19]->header.h, version3 ? uint32_t(V3_WIFI_HEIGHT) : uint32_t(V4_WIFI_HEIGHT));
}

TEST_P(LvZefScreenTest, EqualsLvglsOwnImagesWithTheCacheOffAndOn) {
  const Archive& a = GetParam();
  const ReferenceImages reference(a.bytes, a.size);
  ASSERT_EQ(reference.Count(), kIcons);
  for (const bool cache : {false, true}) {
    SCOPED_TRACE(cache ? "image cache on" : "image cache off");
    LvglScreen screen;
    if (cache) lv_image_cache_resize(512 * 1024, false);
    const Frame background = screen.Render();
    // LVGL transforms only images it holds whole: with the cache.
    BuildIconScreen([&a](uint32_t n) { return Generated(a, n); }, kIcons, cache);
    const Frame drawn = screen.Render();
    // Drawn a second time: from the cache, or decoded again.
    EXPECT_EQ(Differences(screen.Render(), drawn), 0u);
    EXPECT_EQ(screen.TakeLog(), std::vector<std::string>());
    screen.Clear();
    BuildIconScreen([&reference](uint32_t n) { return reference(n); }, kIcons, cache);
    const Frame expected = screen.Render();
    EXPECT_GT(Differences(expected, background), size_t(kScreenWidth) * kScreenHeight / 4);
    if (cache) {
      EXPECT_EQ(Differences(drawn, expected), 0u);
    } else {
      // Drawn straight into the display by the device decoder, whose blend
      // rounds where LVGL's truncates: soft edges and faded images may be
      // a step or two off, as LVGL drops the low bits of an 8-bit colour
      // before it blends and divides by 256 (LvZefDirectTest holds them to
      // the decoder's own draw).
      EXPECT_LE(LargestStep(drawn, expected), 2);
      EXPECT_LT(Differences(drawn, expected), size_t(kScreenWidth) * kScreenHeight / 10);
    }
  }
}

TEST_P(LvZefScreenTest, FileArchiveIsOpenedOnceAndDrawsTheSameScreen) {
  const Archive& a = GetParam();
  LvglScreen screen;
  BuildIconScreen([&a](uint32_t n) { return Generated(a, n); }, kIcons, true);
  const Frame expected = screen.Render();
  screen.Clear();

  MemoryDrive drive;
  drive.bytes = a.bytes;
  drive.size = uint32_t(a.size);
  drive.Register();
  lv_zef_archive_t archive = LV_ZEF_ARCHIVE_FILE("M:icons.zef");
  std::vector<lv_zef_image_t> images(kIcons);
  BuildIconScreen([&](uint32_t n) { return lv_zef_image_init(&images[n], &archive, n); }, kIcons, true);
  EXPECT_EQ(Differences(screen.Render(), expected), 0u);
  EXPECT_EQ(Differences(screen.Render(), expected), 0u);
  EXPECT_EQ(drive.opens, 1u);
  EXPECT_EQ(screen.TakeLog(), std::vector<std::string>());
  lv_zef_archive_close(&archive);
}

// Each read, failed alone, stops what needed it with LVGL's report of an
// image it cannot decode; the next screen, with the drive mended, is whole.
TEST_P(LvZefScreenTest, EveryFailedReadGivesTheCannotDecodePath) {
  const Archive& a = GetParam();
  LvglScreen screen;
  MemoryDrive drive;
  drive.bytes = a.bytes;
  drive.size = uint32_t(a.size);
  drive.Register();
  lv_zef_archive_t archive = LV_ZEF_ARCHIVE_FILE("M:icons.zef");
  std::vector<lv_zef_image_t> images(kIcons);
  const auto source = [&](uint32_t n) { return lv_zef_image_init(&images[n], &archive, n); };
  BuildIconScreen(source, kIcons, false);
  const Frame expected = screen.Render();
  const uint64_t reads = drive.reads;
  ASSERT_GT(reads, 100u);
  screen.TakeLog();

  for (uint64_t fail = 0; fail < reads; ++fail) {
    SCOPED_TRACE("read " + std::to_string(fail) + " of " + std::to_string(reads) + " failed");
    screen.Clear();
    lv_zef_archive_close(&archive);
    drive.reads = 0;
    drive.failures = 0;
    drive.failAt = fail;
    BuildIconScreen(source, kIcons, false);
    const Frame failed = screen.Render();
    ASSERT_EQ(drive.failures, 1u);
    const std::vector<std::string> log = screen.TakeLog();
    // A read whose failure the decoder passes over must leave the screen whole.
    EXPECT_TRUE(Mentions(log, "cannot be decoded") || Mentions(log, "is refused") ||
                Differences(failed, expected) == 0);

    drive.failAt = UINT64_MAX;
    screen.Clear();
    BuildIconScreen(source, kIcons, false);
    ASSERT_EQ(Differences(screen.Render(), expected), 0u);
  }
  lv_zef_archive_close(&archive);
}

TEST_P(LvZefScreenTest, DamagedArchiveShowsNothingOfItAndLogsWhy) {
  const Archive& a = GetParam();
  LvglScreen screen;
  const Frame background = screen.Render();
  std::vector<uint8_t> damaged = Damaged(a);
  ASSERT_FALSE(damaged.empty());
  lv_zef_archive_t archive = LV_ZEF_ARCHIVE_MEMORY(damaged.data(), uint32_t(damaged.size()));
  std::vector<lv_zef_image_t> images(kIcons);
  BuildIconScreen([&](uint32_t n) { return lv_zef_image_init(&images[n], &archive, n); }, kIcons, true);
  EXPECT_EQ(Differences(screen.Render(), background), 0u);
  EXPECT_TRUE(Mentions(screen.TakeLog(), "is refused"));
}

// Trusted, the archive opens and the damage is found while drawing: the
// images before it are drawn, the damaged one stops where the damage is.
TEST_P(LvZefScreenTest, DamageFoundWhileDrawingStopsOnlyThatImage) {
  const Archive& a = GetParam();
  LvglScreen screen;
  std::vector<uint8_t> damaged = Damaged(a);
  ASSERT_FALSE(damaged.empty());
  lv_zef_archive_t archive = LV_ZEF_ARCHIVE_MEMORY(damaged.data(), uint32_t(damaged.size()));
  archive.flags = ZEFDEC_TRUSTED;
  std::vector<lv_zef_image_t> images(kIcons);
  BuildIconScreen([&](uint32_t n) { return lv_zef_image_init(&images[n], &archive, n); }, kIcons, true);
  const Frame drawn = screen.Render();
  const std::vector<std::string> log = screen.TakeLog();
  screen.Clear();
  BuildIconScreen([&a](uint32_t n) { return Generated(a, n); }, kIcons, true);
  const Frame whole = screen.Render();
  EXPECT_TRUE(Mentions(log, "cannot be decoded"));
  EXPECT_GT(Differences(drawn, whole), 0u);
  EXPECT_LT(Differences(drawn, whole), size_t(kScreenWidth) * kScreenHeight / 4);
}

// Bands of a tenth of the screen read what one band of the whole screen
// reads, but for the palette and window each band fetches again: no line of
// an image is read again for the band below it, even where the band draws
// another image of the archive between two of its bands. The two images
// fill the screen side by side, so that reading their lines again would
// read several times as much.
TEST(LvZefBandTest, BandsGoOnWhereTheBandAboveStopped) {
  std::mt19937 random(7);
  const int width = (kScreenWidth - 20) / 2, height = kScreenHeight - 10;
  std::vector<uint8_t> pixels(size_t(width) * height * 3);
  for (size_t n = 0; n < pixels.size(); n += 3) {
    const uint8_t colour = uint8_t(random() % 16 * 16);
    pixels[n] = colour;
    pixels[n + 1] = uint8_t(255 - colour);
    pixels[n + 2] = 64;
  }
  const zef::ImageView view{pixels.data(), width, height, size_t(width) * 3};
  const zef::EncodeResult encoded = zef::Encode({view, view}, {}, zef::Options{});
  ASSERT_TRUE(encoded.Ok()) << encoded.message;
  uint64_t bytes[2] = {0, 0};
  for (const int lines : {kScreenHeight, kScreenHeight / 10}) {
    LvglScreen screen(lines);
    MemoryDrive drive;
    drive.bytes = encoded.bytes.data();
    drive.size = uint32_t(encoded.bytes.size());
    drive.Register();
    lv_zef_archive_t archive = LV_ZEF_ARCHIVE_FILE("M:icons.zef");
    lv_zef_image_t images[2];
    for (uint32_t n = 0; n < 2; ++n) {
      lv_obj_t* object = lv_image_create(lv_screen_active());
      lv_image_set_src(object, lv_zef_image_init(&images[n], &archive, n));
      lv_obj_set_pos(object, 10 + int(n) * width, 5);
    }
    drive.bytesRead = 0;
    screen.Render();
    bytes[lines == kScreenHeight ? 0 : 1] = drive.bytesRead;
    EXPECT_EQ(screen.TakeLog(), std::vector<std::string>());
    lv_zef_archive_close(&archive);
  }
  ASSERT_GT(bytes[0], encoded.bytes.size() / 2);
  EXPECT_LT(double(bytes[1]), double(bytes[0]) * 1.3) << bytes[1] << " against " << bytes[0];
}

// The direct path: each layer format it draws onto, with image_opa (full
// from LV_OPA_MAX, as LVGL blends it) and a full recolour, in bands of any
// height, equals the device decoder's own
// draw of the same images onto LVGL's background; what it leaves to LVGL
// (a partial recolour, a layer format it has no canvas for, the image
// cache on) equals LVGL's drawing of its own ARGB8888 images.
struct DirectCase {
  const char* name;
  lv_color_format_t format;
  zefdec_canvas_format canvas;  // when drawn directly
  int bandLines;
  uint8_t opacity;         // image_opa
  uint8_t drawnOpacity;    // what the decoder draws with
  uint8_t recolourOpacity;
  uint8_t backgroundOpacity;
  bool cache;
  bool direct;
};

const DirectCase kDirectCases[] = {
    {"rgb565", LV_COLOR_FORMAT_RGB565, ZEFDEC_CANVAS_RGB565, 16, 255, 255, 0, 255, false, true},
    {"rgb565_lines_of_one", LV_COLOR_FORMAT_RGB565, ZEFDEC_CANVAS_RGB565, 1, 255, 255, 0, 255, false, true},
    {"rgb565_faded_bands_of_7", LV_COLOR_FORMAT_RGB565, ZEFDEC_CANVAS_RGB565, 7, 120, 120, 0, 255, false, true},
    {"rgb565_recoloured_whole_screen", LV_COLOR_FORMAT_RGB565, ZEFDEC_CANVAS_RGB565, kScreenHeight, 200, 200, 255, 255,
     false, true},
    {"rgb565_swapped", LV_COLOR_FORMAT_RGB565_SWAPPED, ZEFDEC_CANVAS_RGB565_SWAPPED, 16, 180, 180, 0, 255, false, true},
    {"xrgb8888", LV_COLOR_FORMAT_XRGB8888, ZEFDEC_CANVAS_XRGB8888, 16, 255, 255, 255, 255, false, true},
    {"rgb888", LV_COLOR_FORMAT_RGB888, ZEFDEC_CANVAS_BGR888, 5, 150, 150, 0, 255, false, true},
    {"argb8888_over_translucent", LV_COLOR_FORMAT_ARGB8888, ZEFDEC_CANVAS_ARGB8888, 16, 220, 220, 0, 100, false, true},
    {"nearly_opaque_is_opaque", LV_COLOR_FORMAT_RGB565, ZEFDEC_CANVAS_RGB565, 16, 254, 255, 0, 255, false, true},
    {"partial_recolour_is_lvgls", LV_COLOR_FORMAT_RGB565, ZEFDEC_CANVAS_RGB565, 16, 255, 255, 140, 255, false, false},
    {"l8_is_lvgls", LV_COLOR_FORMAT_L8, ZEFDEC_CANVAS_L8, 16, 200, 200, 0, 255, false, false},
    {"cache_on_is_lvgls", LV_COLOR_FORMAT_RGB565, ZEFDEC_CANVAS_RGB565, 16, 160, 160, 0, 255, true, false},
};

void PrintTo(const DirectCase& c, std::ostream* out) { *out << c.name; }

constexpr uint32_t kRecolour = 0x00c0ff;

// Overlapping, past every edge, and one image twice in the same bands.
struct Placement {
  uint32_t position;
  int x, y;
};
const Placement kPlacements[] = {{0, -6, -5}, {1, 20, 10},   {2, 36, 18},  {3, 100, 40}, {3, 140, 44},
                                 {4, 226, 150}, {5, -20, 120}, {6, 150, -20}, {7, 60, 70},  {8, 64, 76}};

void PlaceAll(const ImageSource& source, const DirectCase& c) {
  for (const Placement& p : kPlacements) {
    lv_obj_t* image = lv_image_create(lv_screen_active());
    lv_image_set_src(image, source(p.position));
    lv_obj_set_pos(image, p.x, p.y);
    lv_obj_set_style_image_opa(image, c.opacity, 0);
    lv_obj_set_style_image_recolor(image, lv_color_hex(kRecolour), 0);
    lv_obj_set_style_image_recolor_opa(image, c.recolourOpacity, 0);
  }
}

class LvZefDirectTest : public ::testing::TestWithParam<DirectCase> {};

TEST_P(LvZefDirectTest, EqualsTheDecodersOwnDrawOrLvgls) {
  const DirectCase& c = GetParam();
  for (const Archive& a : kArchives) {
    SCOPED_TRACE(a.name);
    LvglScreen screen(c.bandLines, c.format);
    if (c.cache) lv_image_cache_resize(512 * 1024, false);
    lv_obj_set_style_bg_opa(lv_screen_active(), c.backgroundOpacity, 0);
    const Frame background = screen.Render();
    PlaceAll([&a](uint32_t n) { return Generated(a, n); }, c);
    const Frame drawn = screen.Render();
    EXPECT_EQ(screen.TakeLog(), std::vector<std::string>());
    EXPECT_GT(Differences(drawn, background), size_t(kScreenWidth) * kScreenHeight / 20);

    Frame expected = background;
    if (c.direct) {
      zefdec_archive archive;
      ASSERT_EQ(zefdec_open(&archive, a.bytes, a.size), ZEFDEC_OK);
      const uint32_t bytes = uint32_t(expected.size() / kScreenHeight);
      const zefdec_canvas whole = {expected.data(), kScreenWidth, kScreenHeight, bytes, c.canvas};
      const zefdec_draw_options options = {c.drawnOpacity, uint8_t(c.recolourOpacity == 255),
                                           ZEFDEC_DITHER_THRESHOLD, kRecolour};
      for (const Placement& p : kPlacements) {
        ASSERT_EQ(zefdec_draw_with(&archive, p.position, &whole, p.x, p.y, &options), ZEFDEC_OK);
      }
    } else {
      const ReferenceImages reference(a.bytes, a.size);
      screen.Clear();
      PlaceAll([&reference](uint32_t n) { return reference(n); }, c);
      expected = screen.Render();
    }
    EXPECT_EQ(Differences(drawn, expected), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, LvZefDirectTest, ::testing::ValuesIn(kDirectCases),
                         [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(Archives, LvZefScreenTest, ::testing::ValuesIn(kArchives),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zeftest

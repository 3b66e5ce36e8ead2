/*
 * lv_zef: .zef images in LVGL 9.
 *
 * lv_zef_init() registers an image decoder that draws the images of a .zef
 * archive straight from where the archive is, line by line:
 *
 *   - an archive in memory or memory-mapped flash: `zef embed --lvgl` (or
 *     zef_add_assets(... LVGL)) writes one lv_image_dsc_t per image under
 *     its generated name, so that lv_image_set_src(img, &ui_home) works;
 *   - an archive on LVGL's file system (SD card, SPI flash driver): name it
 *     by its lv_fs path with LV_ZEF_ARCHIVE_FILE and make a descriptor per
 *     image with lv_zef_image_init. The file is opened once, on first use,
 *     and shared by every image of it.
 *
 * Untransformed images are drawn by the device decoder itself, straight
 * into the layer LVGL renders, when the layer is RGB565, RGB565_SWAPPED,
 * XRGB8888, RGB888 or ARGB8888 (each as far as ZEFDEC_CANVASES has its
 * canvas; the 32-bit ones on a little-endian core), the image cache is
 * off, and the image has no mask, other blend mode or partial recolour:
 * lv_zef_init adds a draw unit that takes those of LVGL's image tasks
 * and draws each with zefdec_draw_with clipped to the task's area, with
 * image_opa as its opacity and a full image_recolor as its recolour. Its
 * blend is the decoder's (zefdec.h), which rounds where LVGL's truncates:
 * soft edges and faded images may be a step or two of a channel off
 * LVGL's own drawing of the same pixels. Each image goes on where its last band stopped, for up to
 * LV_ZEF_DRAW_SLOTS images, so no line above a band is decoded again.
 *
 * Everything else goes through LVGL's software renderer and the image
 * decoder, which decodes into ARGB8888, keeping a version 4 image's 8-bit
 * colour and alpha. Without the image cache, LVGL asks for the lines it
 * draws, band by band; each request is decoded into a buffer of at most
 * LV_ZEF_AREA_BYTES (at least one line), and a band that goes on with an
 * image the previous band left part-way resumes where that band stopped
 * (LV_ZEF_RESUME_SLOTS such places are kept), so no line above it is
 * decoded again. With the image cache on, an image is decoded whole once
 * and cached as LVGL caches its own.
 *
 * On that path image_opa and image_recolor are LVGL's own, applied to the
 * decoded pixels. Rotation and zoom are LVGL's too, and LVGL transforms
 * only an image it holds whole: transformed images need the image cache
 * on. A damaged archive or a failed read gives LVGL's path for an image
 * that cannot be decoded (nothing is drawn, a warning is logged), never
 * a read outside the archive; drawn directly, the lines above the damage
 * or the failed read are drawn and the same warning is logged.
 *
 * Not thread-safe beyond what LVGL itself guarantees: call from LVGL's
 * thread, as LVGL's own decoders are called. The draw unit draws in the
 * thread that dispatches LVGL's draw tasks, one task at a time.
 */
#ifndef LV_ZEF_H
#define LV_ZEF_H

#ifdef LV_LVGL_H_INCLUDE_SIMPLE
#include "lvgl.h"
#else
#include "lvgl/lvgl.h"
#endif

#include "zefdec.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Bytes of decoded pixels per request of LVGL (a line is always decoded
 * whole, whatever its width). */
#ifndef LV_ZEF_AREA_BYTES
#define LV_ZEF_AREA_BYTES 1024
#endif

/* Images whose decoding a band may resume: as many as cross one band's
 * lower edge on a screen. */
#ifndef LV_ZEF_RESUME_SLOTS
#define LV_ZEF_RESUME_SLOTS 8
#endif

/* Images that the direct path draws through a copy of their archive of
 * their own, so that each goes on where its last band stopped: as many as
 * one band draws. */
#ifndef LV_ZEF_DRAW_SLOTS
#define LV_ZEF_DRAW_SLOTS 8
#endif

/* The id of lv_zef's draw unit among LVGL's (LVGL's own use 1 to 100,
 * but not this one), and how much it prefers the tasks it takes (LVGL's
 * software renderer takes every task at 100; lower wins). */
#ifndef LV_ZEF_DRAW_UNIT_ID
#define LV_ZEF_DRAW_UNIT_ID 90
#endif
#ifndef LV_ZEF_DRAW_PREFERENCE
#define LV_ZEF_DRAW_PREFERENCE 50
#endif

/* Tells an lv_zef_source_t from any other data an image may point at. */
#define LV_ZEF_SOURCE_MAGIC 0x3146455Au

/* One archive, shared by all of its images. Set data and size (in memory)
 * or path (on lv_fs) with the macros below; the other fields are the
 * decoder's. Keep it for as long as its images are shown. */
typedef struct lv_zef_archive_t {
    const uint8_t * data;
    uint32_t size;
    const char * path;
    unsigned flags;               /* ZEFDEC_TRUSTED: check header and tables only */
    uint32_t generation;          /* 0 until opened */
    zefdec_archive archive;
    zefdec_reader * reader;       /* on lv_fs: allocated when opened */
    lv_fs_file_t file;
} lv_zef_archive_t;

#define LV_ZEF_ARCHIVE_MEMORY(bytes, byte_count) {.data = (bytes), .size = (byte_count)}
#define LV_ZEF_ARCHIVE_FILE(lv_fs_path) {.path = (lv_fs_path)}

/* What an image's lv_image_dsc_t points at. */
typedef struct lv_zef_source_t {
    uint32_t magic;
    lv_zef_archive_t * archive;
    uint32_t position;            /* 0 for the archive's first image */
} lv_zef_source_t;

/* The lv_image_dsc_t of the image at `position`, as `zef embed --lvgl`
 * writes it: `source` is the address of its lv_zef_source_t, width and
 * height the image's (LVGL asks the archive for them again). */
#define LV_ZEF_IMAGE_DSC(source, width, height)                                              \
    {.header = {.magic = LV_IMAGE_HEADER_MAGIC, .cf = LV_COLOR_FORMAT_RAW_ALPHA,              \
                .w = (width), .h = (height)},                                                  \
     .data_size = sizeof(lv_zef_source_t), .data = (const uint8_t *)(source)}

/* An image descriptor made at run time, for an archive on lv_fs. */
typedef struct lv_zef_image_t {
    lv_image_dsc_t dsc;
    lv_zef_source_t source;
} lv_zef_image_t;

/* Registers the decoder; call once after lv_init(). Returns it, or NULL
 * when LVGL could not allocate it. */
lv_image_decoder_t * lv_zef_init(void);

/* Removes the decoder that lv_zef_init registered. */
void lv_zef_deinit(void);

/* Fills *image for the image at `position` of `archive` (its position
 * macro from `zef pack --header`) and returns the descriptor to give
 * lv_image_set_src. The archive is opened here if it can be, for the
 * width and height; if it cannot, LVGL's later calls try again. */
const lv_image_dsc_t * lv_zef_image_init(lv_zef_image_t * image, lv_zef_archive_t * archive,
                                         uint32_t position);

/* Opens the archive now (a file archive is otherwise opened on first use)
 * and returns ZEFDEC_OK or the decoder's error. */
int lv_zef_archive_open(lv_zef_archive_t * archive);

/* Closes a file archive's file and frees its reader; the archive may be
 * opened again. Its images must not be drawn in between. */
void lv_zef_archive_close(lv_zef_archive_t * archive);

#ifdef __cplusplus
}
#endif

#endif /* LV_ZEF_H */

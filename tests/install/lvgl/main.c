/*
 * Shows ui_home in the middle of an RGB565 display through docs/lvgl.md's
 * show_home(), then from the same archive on an lv_fs drive through
 * show_home_from_file(), and checks that both drew it: the pixels under
 * the icon are no longer the background. Exit 0 when they are.
 */
#include <stdio.h>
#include <string.h>

#include "ui.h"

#define WIDTH 120
#define HEIGHT 80

void show_home(void);
void show_home_from_file(void);

static uint16_t frame[HEIGHT][WIDTH];
static uint16_t band[WIDTH * HEIGHT / 10];
static uint32_t at;

static void flush(lv_display_t * display, const lv_area_t * area, uint8_t * pixels)
{
    int32_t y;
    const int32_t width = lv_area_get_width(area);
    for(y = area->y1; y <= area->y2; ++y) {
        memcpy(&frame[y][area->x1], pixels + (size_t)(y - area->y1) * width * 2, (size_t)width * 2);
    }
    lv_display_flush_ready(display);
}

/* Drive S: holds ui.zef, the bytes of the embedded array. */
static void * open_file(lv_fs_drv_t * drive, const char * path, lv_fs_mode_t mode)
{
    (void)drive;
    (void)mode;
    at = 0;
    return strcmp(path, "ui.zef") == 0 ? &at : NULL;
}

static lv_fs_res_t close_file(lv_fs_drv_t * drive, void * file)
{
    (void)drive;
    (void)file;
    return LV_FS_RES_OK;
}

static lv_fs_res_t read_file(lv_fs_drv_t * drive, void * file, void * buffer, uint32_t length, uint32_t * read)
{
    (void)drive;
    (void)file;
    *read = at < UI_SIZE ? (length < UI_SIZE - at ? length : UI_SIZE - at) : 0;
    memcpy(buffer, ui + at, *read);
    at += *read;
    return LV_FS_RES_OK;
}

static lv_fs_res_t seek_file(lv_fs_drv_t * drive, void * file, uint32_t offset, lv_fs_whence_t whence)
{
    (void)drive;
    (void)file;
    at = whence == LV_FS_SEEK_SET ? offset : whence == LV_FS_SEEK_CUR ? at + offset : UI_SIZE + offset;
    return LV_FS_RES_OK;
}

static lv_fs_res_t tell_file(lv_fs_drv_t * drive, void * file, uint32_t * position)
{
    (void)drive;
    (void)file;
    *position = at;
    return LV_FS_RES_OK;
}

static int drawn(const char * how)
{
    int changed = 0, x, y;
    lv_obj_invalidate(lv_screen_active());
    lv_refr_now(NULL);
    for(y = HEIGHT / 2 - UI_HOME_HEIGHT / 2; y < HEIGHT / 2 + UI_HOME_HEIGHT / 2; ++y) {
        for(x = WIDTH / 2 - UI_HOME_WIDTH / 2; x < WIDTH / 2 + UI_HOME_WIDTH / 2; ++x) changed += frame[y][x] != 0;
    }
    if(changed == 0) fprintf(stderr, "show: %s drew nothing\n", how);
    return changed > 0;
}

int main(void)
{
    static lv_fs_drv_t drive;
    lv_display_t * display;
    int ok;
    lv_init();
    display = lv_display_create(WIDTH, HEIGHT);
    lv_display_set_color_format(display, LV_COLOR_FORMAT_RGB565);
    lv_display_set_buffers(display, band, NULL, sizeof band, LV_DISPLAY_RENDER_MODE_PARTIAL);
    lv_display_set_flush_cb(display, flush);
    lv_obj_set_style_bg_color(lv_screen_active(), lv_color_black(), 0);
    lv_obj_set_style_bg_opa(lv_screen_active(), LV_OPA_COVER, 0);

    show_home();
    ok = drawn("show_home");

    lv_obj_clean(lv_screen_active());
    lv_fs_drv_init(&drive);
    drive.letter = 'S';
    drive.open_cb = open_file;
    drive.close_cb = close_file;
    drive.read_cb = read_file;
    drive.seek_cb = seek_file;
    drive.tell_cb = tell_file;
    lv_fs_drv_register(&drive);
    show_home_from_file();
    lv_obj_align(lv_obj_get_child(lv_screen_active(), 0), LV_ALIGN_CENTER, 0, 0);
    ok = drawn("show_home_from_file") && ok;
    lv_deinit();
    return ok ? 0 : 1;
}

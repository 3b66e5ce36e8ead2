/*
 * A screen of sprites, drawn as firmware draws it: the archive is linked in
 * as the array `sprites` (see CMakeLists.txt), the framebuffer is RGB565 and
 * zefdec_draw puts each sprite at its place, clipped at the edges and
 * blended where the sprite's mask lets the background through.
 *
 * On a device the framebuffer would go to the display; here it is written
 * as a PPM picture, and each sprite drawn is listed on standard output.
 *   screen OUT.ppm
 */
#include <stdio.h>

#include "sprites.h" /* sprites, sprites_size and SPRITES_<NAME> numbers */
#include "zefdec.h"

#define WIDTH 160
#define HEIGHT 120

static uint16_t framebuffer[HEIGHT][WIDTH];

struct placement {
    uint32_t number;
    int32_t x, y;
};

/* Back to front; some overlap, some hang over an edge. */
static const struct placement scene[] = {
    {SPRITES_BUTTON, 8, 8},    {SPRITES_BUTTON, 52, 8},  {SPRITES_BUTTON, 140, 8},
    {SPRITES_SMILEY, 60, 44},  {SPRITES_HEART, 76, 60},  {SPRITES_STAR, -10, 50},
    {SPRITES_COIN, 150, 70},   {SPRITES_GEM, 30, 104},   {SPRITES_COIN, -6, -8},
    {SPRITES_STAR, 98, 30},    {SPRITES_HEART, 112, 100}, {SPRITES_GEM, 120, 40}};

/* A gradient, so that blending shows against many colours. */
static void clear(void) {
    uint32_t x, y;
    for (y = 0; y < HEIGHT; ++y) {
        for (x = 0; x < WIDTH; ++x) {
            const uint32_t r = x * 31 / (WIDTH - 1), g = y * 63 / (HEIGHT - 1), b = 12;
            framebuffer[y][x] = (uint16_t)(r << 11 | g << 5 | b);
        }
    }
}

static int write_ppm(const char *name) {
    FILE *out = fopen(name, "wb");
    uint32_t x, y;
    int ok;
    if (out == NULL) return 0;
    fprintf(out, "P6\n%d %d\n255\n", WIDTH, HEIGHT);
    for (y = 0; y < HEIGHT; ++y) {
        for (x = 0; x < WIDTH; ++x) {
            const uint16_t p = framebuffer[y][x];
            const uint32_t r = p >> 11, g = p >> 5 & 63, b = p & 31;
            /* Widened as zefdec_draw widens the canvas to blend. */
            const unsigned char rgb[3] = {(unsigned char)(r << 3 | r >> 2),
                                          (unsigned char)(g << 2 | g >> 4),
                                          (unsigned char)(b << 3 | b >> 2)};
            fwrite(rgb, 1, 3, out);
        }
    }
    ok = !ferror(out);
    return fclose(out) == 0 && ok;
}

int main(int argc, char **argv) {
    zefdec_archive archive;
    zefdec_image_info info;
    const zefdec_canvas canvas = {framebuffer, WIDTH, HEIGHT, sizeof framebuffer[0],
                                  ZEFDEC_CANVAS_RGB565};
    size_t n;
    int result;
    if (argc != 2) {
        fprintf(stderr, "usage: screen OUT.ppm\n");
        return 2;
    }
    result = zefdec_open(&archive, sprites, sprites_size);
    if (result != ZEFDEC_OK) {
        fprintf(stderr, "screen: the archive is refused (%d)\n", result);
        return 1;
    }
    /* Image numbers start at the archive's start index; zefdec_draw takes
     * the position in the archive. */
    zefdec_info(&archive, 0, &info);
    clear();
    for (n = 0; n < sizeof scene / sizeof scene[0]; ++n) {
        const uint32_t index = scene[n].number - info.number;
        result = zefdec_draw(&archive, index, &canvas, scene[n].x, scene[n].y);
        if (result != ZEFDEC_OK) {
            fprintf(stderr, "screen: image %u is not drawn (%d)\n", (unsigned)index, result);
            return 1;
        }
        printf("sprite %u at (%d, %d)\n", (unsigned)index, (int)scene[n].x, (int)scene[n].y);
    }
    if (!write_ppm(argv[1])) {
        fprintf(stderr, "screen: %s: cannot write it\n", argv[1]);
        return 1;
    }
    return 0;
}

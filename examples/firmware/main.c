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

#include "sprites.h" /* zefdec.h, sprites, sprites_size and per image SPRITES_<NAME> */

#define WIDTH 160
#define HEIGHT 120

static uint16_t framebuffer[HEIGHT][WIDTH];

struct placement {
    const char *name;
    uint32_t position;
    int32_t x, y;
};

/* SPRITES_<NAME> is the position zefdec_draw takes, whatever start index
 * the archive has; _WIDTH and _HEIGHT place sprites at compile time. */
#define SPRITE(name, x, y) {#name, SPRITES_##name, x, y}

/* Back to front; some overlap, some hang over an edge. */
static const struct placement scene[] = {
    SPRITE(BUTTON, 8, 8),
    SPRITE(BUTTON, 8 + SPRITES_BUTTON_WIDTH + 4, 8),
    SPRITE(BUTTON, WIDTH - SPRITES_BUTTON_WIDTH / 2, 8),
    SPRITE(SMILEY, 60, 44),
    SPRITE(HEART, 76, 60),
    SPRITE(STAR, -10, 50),
    SPRITE(COIN, WIDTH - SPRITES_COIN_WIDTH / 2, 70),
    SPRITE(GEM, 30, HEIGHT - SPRITES_GEM_HEIGHT / 2 - 2),
    SPRITE(COIN, -6, -8),
    SPRITE(STAR, 98, 30),
    SPRITE(HEART, 112, HEIGHT - SPRITES_HEART_HEIGHT / 2 - 8),
    SPRITE(GEM, 120, 40)};

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
        fprintf(stderr, "screen: the archive is refused: %s\n", zefdec_strerror(result));
        return 1;
    }
    clear();
    for (n = 0; n < sizeof scene / sizeof scene[0]; ++n) {
        const struct placement *s = &scene[n];
        result = zefdec_draw(&archive, s->position, &canvas, s->x, s->y);
        if (result != ZEFDEC_OK) {
            fprintf(stderr, "screen: %s is not drawn: %s\n", s->name, zefdec_strerror(result));
            return 1;
        }
        printf("sprite %u %s at (%d, %d)\n", (unsigned)s->position, s->name, (int)s->x, (int)s->y);
    }
    if (!write_ppm(argv[1])) {
        fprintf(stderr, "screen: %s: cannot write it\n", argv[1]);
        return 1;
    }
    return 0;
}

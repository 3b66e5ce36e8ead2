/*
 * The benchmark on the emulated Cortex-M4 (bench/target/run runs it on
 * QEMU's mps2-an386 under -icount shift=0, where every instruction advances
 * the virtual clock by one nanosecond, read from the board's timer; see
 * tests/target/board_mps2.c). It counts the instructions of drawing the
 * sets of make_sets.cpp onto a 320 x 240 RGB565 framebuffer in an
 * overlapping grid that clips the pictures at every edge:
 *   v3 / v4 memory    zefdec_draw of the version 3 / 4 archive in memory;
 *   v4 callback       the same version 4 archive through the read callback
 *                     (the default 128-byte window; the callback copies
 *                     words when source, buffer and length allow, else bytes);
 *   raw planes        the same blend (zefdec.h's formula) from each
 *                     picture's RGB565 + A8 planes in memory;
 *   LZ4+blend         LZ4_decompress_safe of those planes (LVGL's copy of
 *                     LZ4's reference code), then the same blend;
 * each per drawn pixel (pixels of the pictures inside the framebuffer). And
 * zefdec_open, untrusted and trusted, against one whole draw of every
 * image; and a tall 320 x 480 picture drawn whole and in 10 and 40 bands
 * (one zefdec_draw per band, the band as canvas), from memory and through
 * the callback, with the bytes the callback read.
 *
 * And the deepest stack of zefdec_draw and zefdec_open in these cases
 * (the stack painted below the caller, then searched for the deepest word
 * written; it includes open_archive's frame and the read callback's).
 *
 * Output, one result a line, for the run script:
 *   result SET CASE INSTRUCTIONS PIXELS BYTES
 *   stack SET CASE BYTES
 * BYTES: what the callback read (0 for the cases without one).
 */
#include <stddef.h>
#include <string.h>

#include "board.h"
#include "sets.h"
#include "zefdec.h"

/* LVGL's copy of LZ4 (compiled from its own folder; lz4.h pulls in LVGL). */
int LZ4_decompress_safe(const char *source, char *dest, int compressed_size, int capacity);

extern const uint8_t bench_sets_blob[];

#define WIDTH 320
#define HEIGHT 240
#define TALL_HEIGHT 480
#define PLANE_ROOM (64 * 64 * 3)

static uint16_t framebuffer[TALL_HEIGHT][WIDTH];
static uint32_t plane_buffer[PLANE_ROOM / 4];
static uint32_t failures;

static const struct bench_sets *sets(void)
{
    return (const struct bench_sets *)(const void *)bench_sets_blob;
}

static const void *at(uint32_t offset)
{
    return bench_sets_blob + offset;
}

static void fail(const char *what)
{
    board_print("target_bench: ");
    board_print(what);
    board_print("\n");
    failures++;
}

static void report(const char *set, const char *name, uint64_t instructions, uint64_t pixels, uint64_t bytes)
{
    board_print("result ");
    board_print(set);
    board_print(" ");
    board_print(name);
    board_print(" ");
    board_print_fixed(instructions, 0);
    board_print(" ");
    board_print_fixed(pixels, 0);
    board_print(" ");
    board_print_fixed(bytes, 0);
    board_print("\n");
}

/* --- the stack: painted below the caller, then searched for the deepest word
 * written (nothing else runs: no interrupts) ------------------------------ */

#define STACK_PROBE 8192u
#define STACK_PAINT 0xDEADBEEFu

static uintptr_t stack_top;

#define READ_SP(sp) __asm__ volatile("mov %0, sp" : "=r"(sp))

/* Paints the STACK_PROBE bytes below `top` (the caller's stack pointer)
 * down from just below this function's own frame. */
__attribute__((noinline)) static void stack_paint(uintptr_t top)
{
    uintptr_t sp;
    volatile uint32_t *word;
    READ_SP(sp);
    stack_top = top;
    for (word = (volatile uint32_t *)(top - STACK_PROBE); word < (volatile uint32_t *)(sp - 16); word++)
        *word = STACK_PAINT;
}

/* Bytes below the caller's stack pointer written since stack_paint. */
static uint32_t stack_used(void)
{
    const volatile uint32_t *word = (const volatile uint32_t *)(stack_top - STACK_PROBE);
    while ((uintptr_t)word < stack_top && *word == STACK_PAINT) word++;
    return (uint32_t)(stack_top - (uintptr_t)word);
}

static void report_stack(const char *set, const char *name, uint32_t bytes)
{
    board_print("stack ");
    board_print(set);
    board_print(" ");
    board_print(name);
    board_print(" ");
    board_print_number(bytes);
    board_print("\n");
}

/* --- the framebuffer ------------------------------------------------------ */

static void clear(void)
{
    uint32_t n;
    uint16_t *pixel = &framebuffer[0][0];
    for (n = 0; n < WIDTH * TALL_HEIGHT; n++) pixel[n] = (uint16_t)(n * 40503u);
}

static zefdec_canvas screen(uint32_t top, uint32_t height)
{
    zefdec_canvas canvas;
    canvas.pixels = &framebuffer[top][0];
    canvas.width = WIDTH;
    canvas.height = height;
    canvas.stride = sizeof framebuffer[0];
    canvas.format = ZEFDEC_CANVAS_RGB565;
    return canvas;
}

/* --- the grid: picture n at cell n, cells overlapping and over the edges -- */

struct grid {
    int32_t step, origin;
    uint32_t columns, cells;
};

static struct grid grid_of(const struct bench_set *set)
{
    const struct bench_picture *pictures = at(set->pictures);
    struct grid grid;
    uint32_t side = 0, n, rows;
    for (n = 0; n < set->count; n++) {
        if (pictures[n].width > side) side = pictures[n].width;
        if (pictures[n].height > side) side = pictures[n].height;
    }
    grid.step = (int32_t)(side * 3 / 4);
    grid.origin = -(int32_t)(side / 2);
    grid.columns = (uint32_t)((WIDTH - grid.origin) / grid.step) + 1;
    rows = (uint32_t)((HEIGHT - grid.origin) / grid.step) + 1;
    grid.cells = grid.columns * rows;
    return grid;
}

static void place(const struct grid *grid, uint32_t n, int32_t *x, int32_t *y)
{
    const uint32_t cell = n % grid->cells;
    *x = grid->origin + (int32_t)(cell % grid->columns) * grid->step;
    *y = grid->origin + (int32_t)(cell / grid->columns) * grid->step;
}

static uint32_t clipped(int32_t at, uint32_t size, uint32_t room, uint32_t *first)
{
    int32_t begin = at < 0 ? 0 : at, end = at + (int32_t)size;
    if (end > (int32_t)room) end = (int32_t)room;
    *first = (uint32_t)(begin - at);
    return end > begin ? (uint32_t)(end - begin) : 0;
}

static uint64_t grid_pixels(const struct bench_set *set, const struct grid *grid)
{
    const struct bench_picture *pictures = at(set->pictures);
    uint64_t pixels = 0;
    uint32_t n, first;
    for (n = 0; n < set->count; n++) {
        int32_t x, y;
        place(grid, n, &x, &y);
        pixels += (uint64_t)clipped(x, pictures[n].width, WIDTH, &first) *
                  clipped(y, pictures[n].height, HEIGHT, &first);
    }
    return pixels;
}

/* --- the read callback ---------------------------------------------------- */

struct flash {
    const uint8_t *bytes;
    uint32_t size;
    uint64_t read;
};

static int flash_read(void *user, uint32_t offset, void *buffer, uint32_t length)
{
    struct flash *flash = (struct flash *)user;
    const uint8_t *from;
    if (offset > flash->size || length > flash->size - offset) return -1;
    from = flash->bytes + offset;
    flash->read += length;
    /* as a driver copies: in words when it can */
    if ((((uintptr_t)from | (uintptr_t)buffer | length) & 3) == 0) {
        const uint32_t *source = (const uint32_t *)(const void *)from;
        uint32_t *target = (uint32_t *)buffer;
        for (; length; length -= 4) *target++ = *source++;
    } else {
        uint8_t *target = (uint8_t *)buffer;
        while (length--) *target++ = *from++;
    }
    return 0;
}

/* --- the baselines' blend ------------------------------------------------- */

/* (source * a + canvas * (255 - a) + 127) / 255 of one 8-bit channel. */
static uint32_t mix(uint32_t source, uint32_t canvas, uint32_t a)
{
    return (source * a + canvas * (255 - a) + 127) / 255;
}

/* A width x height RGB565A8 plane at (x, y), clipped to the 320 x 240
 * framebuffer, blended as zefdec.h states: each channel widened to 8 bits
 * by repeating its top bits, out = (source * A + canvas * (255 - A) + 127)
 * / 255, stored by keeping its top bits; A = 255 copies, A = 0 leaves. */
static void blend_plane(const uint8_t *plane, uint32_t width, uint32_t height, int32_t x, int32_t y)
{
    const uint16_t *colour = (const uint16_t *)(const void *)plane;
    const uint8_t *alpha = plane + 2 * width * height;
    uint32_t left, top, columns, rows, row, column;
    columns = clipped(x, width, WIDTH, &left);
    rows = clipped(y, height, HEIGHT, &top);
    for (row = 0; row < rows; row++) {
        const uint32_t from = (top + row) * width + left;
        const uint16_t *source = colour + from;
        const uint8_t *coverage = alpha + from;
        uint16_t *out = &framebuffer[(uint32_t)y + top + row][(uint32_t)x + left];
        for (column = 0; column < columns; column++) {
            const uint32_t a = coverage[column];
            uint32_t s, d, sr, sg, sb, dr, dg, db;
            if (a == 255) {
                out[column] = source[column];
                continue;
            }
            if (a == 0) continue;
            s = source[column];
            d = out[column];
            sr = s >> 11, sg = (s >> 5) & 63, sb = s & 31;
            dr = d >> 11, dg = (d >> 5) & 63, db = d & 31;
            sr = mix(sr << 3 | sr >> 2, dr << 3 | dr >> 2, a);
            sg = mix(sg << 2 | sg >> 4, dg << 2 | dg >> 4, a);
            sb = mix(sb << 3 | sb >> 2, db << 3 | db >> 2, a);
            out[column] = (uint16_t)((sr >> 3) << 11 | (sg >> 2) << 5 | sb >> 3);
        }
    }
}

/* --- the cases ------------------------------------------------------------ */

enum source { MEMORY, CALLBACK };

static int open_archive(zefdec_archive *archive, zefdec_reader *reader, struct flash *flash, uint32_t offset,
                        uint32_t size, enum source source, unsigned flags)
{
    flash->bytes = at(offset);
    flash->size = size;
    flash->read = 0;
    if (source == MEMORY) return zefdec_open_with(archive, at(offset), size, flags);
    return zefdec_open_reader(archive, reader, flash_read, flash, size, flags);
}

static zefdec_reader reader;

static void draw_grid(const struct bench_set *set, const char *name, uint32_t offset, uint32_t size,
                      enum source source, const zefdec_draw_options *options)
{
    const struct grid grid = grid_of(set);
    const zefdec_canvas canvas = screen(0, HEIGHT);
    zefdec_archive archive;
    struct flash flash;
    uint64_t start, instructions;
    uint32_t n;
    if (open_archive(&archive, &reader, &flash, offset, size, source, 0) != ZEFDEC_OK) {
        fail("an archive was refused");
        return;
    }
    clear();
    flash.read = 0;
    start = board_instructions();
    for (n = 0; n < set->count; n++) {
        int32_t x, y;
        place(&grid, n, &x, &y);
        if (zefdec_draw_with(&archive, n, &canvas, x, y, options) != ZEFDEC_OK) fail("zefdec_draw failed");
    }
    instructions = board_instructions() - start;
    report(set->name, name, instructions, grid_pixels(set, &grid), flash.read);
    if (options) return;
    /* the deepest stack of zefdec_draw over the set (not timed) */
    {
        uintptr_t sp;
        READ_SP(sp);
        stack_paint(sp);
        for (n = 0; n < set->count; n++) {
            int32_t x, y;
            place(&grid, n, &x, &y);
            zefdec_draw(&archive, n, &canvas, x, y);
        }
        report_stack(set->name, name, stack_used());
    }
}

static void draw_planes(const struct bench_set *set, int lz4)
{
    const struct bench_picture *pictures = at(set->pictures);
    const struct grid grid = grid_of(set);
    uint64_t start, instructions;
    uint32_t n;
    clear();
    start = board_instructions();
    for (n = 0; n < set->count; n++) {
        const struct bench_picture *p = &pictures[n];
        const uint8_t *plane = at(p->plane);
        int32_t x, y;
        place(&grid, n, &x, &y);
        if (lz4) {
            const int size = (int)(p->width * p->height * 3);
            if (size > PLANE_ROOM ||
                LZ4_decompress_safe((const char *)at(p->lz4), (char *)plane_buffer, (int)p->lz4_size,
                                    PLANE_ROOM) != size) {
                fail("LZ4 refused a plane");
                return;
            }
            plane = (const uint8_t *)plane_buffer;
        }
        blend_plane(plane, p->width, p->height, x, y);
    }
    instructions = board_instructions() - start;
    report(set->name, lz4 ? "lz4+blend" : "raw-planes", instructions, grid_pixels(set, &grid), 0);
}

/* zefdec_open against one whole draw of every image at (0, 0). */
static void open_against_draw(const struct bench_set *set, const char *version, uint32_t offset, uint32_t size)
{
    const struct bench_picture *pictures = at(set->pictures);
    const zefdec_canvas canvas = screen(0, TALL_HEIGHT);
    zefdec_archive archive;
    struct flash flash;
    uint64_t start, instructions, pixels = 0;
    char name[32];
    uint32_t n;
    static const char *const kinds[] = {"open-untrusted", "open-trusted", "open-callback-untrusted"};
    int kind;
    for (kind = 0; kind < 3; kind++) {
        /* a trusted open is short: 100 of them, so that the timer's tick of
         * 40 instructions blurs less than one */
        const uint32_t repeats = kind == 1 ? 100 : 1;
        uint32_t r;
        start = board_instructions();
        for (r = 0; r < repeats; r++) {
            if (open_archive(&archive, &reader, &flash, offset, size, kind == 2 ? CALLBACK : MEMORY,
                             kind == 1 ? ZEFDEC_TRUSTED : 0) != ZEFDEC_OK)
                fail("an archive was refused");
        }
        instructions = (board_instructions() - start + repeats / 2) / repeats;
        strcpy(name, version);
        strcat(name, "-");
        strcat(name, kinds[kind]);
        report(set->name, name, instructions, size, flash.read);
        {
            uintptr_t sp;
            READ_SP(sp);
            stack_paint(sp);
            open_archive(&archive, &reader, &flash, offset, size, kind == 2 ? CALLBACK : MEMORY,
                         kind == 1 ? ZEFDEC_TRUSTED : 0);
            report_stack(set->name, name, stack_used());
        }
    }
    open_archive(&archive, &reader, &flash, offset, size, MEMORY, ZEFDEC_TRUSTED);
    clear();
    start = board_instructions();
    for (n = 0; n < set->count; n++) {
        if (zefdec_draw(&archive, n, &canvas, 0, 0) != ZEFDEC_OK) fail("zefdec_draw failed");
        pixels += (uint64_t)pictures[n].width * pictures[n].height;
    }
    instructions = board_instructions() - start;
    strcpy(name, version);
    strcat(name, "-draw-every-image");
    report(set->name, name, instructions, pixels, 0);
}

static void append_number(char *text, uint32_t value)
{
    char digits[12];
    char *d = digits + sizeof digits;
    *--d = 0;
    do {
        *--d = (char)('0' + value % 10);
        value /= 10;
    } while (value);
    strcat(text, d);
}

/* The tall picture drawn whole and in bands of TALL_HEIGHT / bands rows. */
static void draw_bands(const struct bench_set *set, const char *version, uint32_t offset, uint32_t size,
                       enum source source, uint32_t bands)
{
    const struct bench_picture *picture = at(set->pictures);
    const uint32_t band = TALL_HEIGHT / bands;
    zefdec_archive archive;
    struct flash flash;
    uint64_t start, instructions;
    uint32_t top;
    char name[40];
    if (open_archive(&archive, &reader, &flash, offset, size, source, ZEFDEC_TRUSTED) != ZEFDEC_OK) {
        fail("an archive was refused");
        return;
    }
    clear();
    flash.read = 0;
    start = board_instructions();
    for (top = 0; top < TALL_HEIGHT; top += band) {
        const zefdec_canvas canvas = screen(top, band);
        if (zefdec_draw(&archive, 0, &canvas, 0, -(int32_t)top) != ZEFDEC_OK) fail("zefdec_draw failed");
    }
    instructions = board_instructions() - start;
    strcpy(name, version);
    strcat(name, source == MEMORY ? "-memory-bands-" : "-callback-bands-");
    append_number(name, bands);
    report(set->name, name, instructions, (uint64_t)picture->width * picture->height, flash.read);
}

static void spin(uint32_t n)
{
    __asm__ volatile("1: subs %0, #1\n bne 1b" : "+r"(n) : : "cc");
}

/* The options a GUI draws with most: an image faded to half, and one
 * recoloured (a tinted icon) at full opacity. */
static const zefdec_draw_options faded = {128, 0, ZEFDEC_DITHER_THRESHOLD, 0};
static const zefdec_draw_options recoloured = {255, 1, ZEFDEC_DITHER_THRESHOLD, 0x3366CC};

int main(void)
{
    const struct bench_sets *all = sets();
    uint64_t start, instructions;
    uint32_t s;
    if (all->magic != BENCH_SETS_MAGIC || all->set_count != BENCH_SET_COUNT) {
        fail("the sets are not those of make_sets.cpp");
        return 1;
    }
    /* The counter: 2 instructions an iteration, 1000000 iterations. */
    start = board_instructions();
    spin(1000000);
    instructions = board_instructions() - start;
    report("calibration", "spin-2000000", instructions, 1, 0);
    if (instructions < 1999000 || instructions > 2001000) {
        fail("the timer does not count instructions: is QEMU run with -icount shift=0?");
        return 1;
    }
    for (s = 0; s < 2; s++) {
        const struct bench_set *set = &all->sets[s];
        report(set->name, "pictures", set->count, 1, 0);
        draw_grid(set, "v3-memory", set->version3, set->version3_size, MEMORY, 0);
        draw_grid(set, "v4-memory", set->version4, set->version4_size, MEMORY, 0);
        draw_grid(set, "v4-callback", set->version4, set->version4_size, CALLBACK, 0);
        draw_grid(set, "v4-opacity", set->version4, set->version4_size, MEMORY, &faded);
        draw_grid(set, "v4-recolour", set->version4, set->version4_size, MEMORY, &recoloured);
        draw_planes(set, 0);
        draw_planes(set, 1);
        open_against_draw(set, "v3", set->version3, set->version3_size);
        open_against_draw(set, "v4", set->version4, set->version4_size);
    }
    {
        const struct bench_set *tall = &all->sets[2];
        static const uint32_t bands[] = {1, 10, 40};
        uint32_t b;
        int source;
        for (source = MEMORY; source <= CALLBACK; source++) {
            for (b = 0; b < 3; b++) {
                draw_bands(tall, "v4", tall->version4, tall->version4_size, (enum source)source, bands[b]);
                draw_bands(tall, "v3", tall->version3, tall->version3_size, (enum source)source, bands[b]);
            }
        }
    }
    board_print(failures ? "target_bench: failed\n" : "target_bench: done\n");
    return failures ? 1 : 0;
}

/*
 * The drawing program of the target_draw test, built unchanged for the
 * Cortex-M4 (run on QEMU's mps2-an386) and for the host: it draws every
 * image of the archives of target_archives.c onto a small framebuffer in
 * every canvas format, with zefdec_draw and with zefdec_draw_with and a
 * set of options (opacity, recolour, ordered dither), from memory and
 * through the read callback (128-byte window), at positions that clip it
 * at every edge and corner or put it wholly outside, and in horizontal
 * bands of several heights (one draw per band, the band as canvas; top to
 * bottom, and bottom to top). It also decodes every image line by line in
 * every line format and as spans. It writes
 *   draw.txt  one line per draw: what was drawn, the result and a hash
 *             of the whole framebuffer storage after it; one per image
 *             decoded in lines or spans, with a hash of what came out;
 *   draw.bin  the whole framebuffer storage (padding and guard rows
 *             included) after the draws at the edges from memory, for
 *             each canvas and options, and every decoded line with its
 *             alpha;
 * and the test compares both files of the two builds byte for byte; and
 *   reads.txt the calls and bytes of the read callback, which differ
 *             between builds of the decoder and are not compared.
 * On each build it also checks that draws through the callback leave the
 * framebuffer as the same draws from memory, and that bands leave it as
 * one draw of the whole canvas; the exit status counts what differed or
 * failed (0: nothing).
 */
#include <string.h>

#include "board.h"
#include "target_archives.h"
#include "zefdec.h"

#define CANVAS_WIDTH 40
#define CANVAS_HEIGHT 30 /* not whole pages: the last of L1_PAGES is part of one */
/* 3 pixels of slack at the end of each row, a guard row above and below */
#define STRIDE_PIXELS (CANVAS_WIDTH + 3)
#define STORAGE_WORDS ((STRIDE_PIXELS * 4 * (CANVAS_HEIGHT + 2)) / 4)

static uint32_t storage[3][STORAGE_WORDS]; /* drawn, and two to compare with */
static int text_file = -1, bytes_file = -1, reads_file = -1;
static uint32_t failures;

/* --- output -------------------------------------------------------------- */

static char line[256];
static size_t line_length;

static void put(const char *text)
{
    while (*text && line_length < sizeof line - 1) line[line_length++] = *text++;
}

static void put_number(int32_t value)
{
    char digits[12];
    char *at = digits + sizeof digits;
    uint32_t magnitude = value < 0 ? 0u - (uint32_t)value : (uint32_t)value;
    *--at = 0;
    do {
        *--at = (char)('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (value < 0) *--at = '-';
    put(at);
}

static void put_hex(uint32_t value)
{
    static const char hex[] = "0123456789abcdef";
    char digits[9];
    int n;
    for (n = 0; n < 8; n++) digits[n] = hex[(value >> (28 - 4 * n)) & 15];
    digits[8] = 0;
    put(digits);
}

static void end_line_in(int file)
{
    line[line_length++] = '\n';
    if (board_write(file, line, line_length) != 0) failures++;
    line_length = 0;
}

static void end_line(void)
{
    end_line_in(text_file);
}

/* Ends the line begun, if any, with what failed. */
static void fail(const char *what)
{
    if (line_length && line[line_length - 1] != ' ') put(" ");
    put("FAILED: ");
    put(what);
    end_line();
    failures++;
}

/* --- the archive behind a read callback ---------------------------------- */

struct flash {
    const uint8_t *bytes;
    uint32_t size;
    uint32_t calls, read;
};

static int flash_read(void *user, uint32_t offset, void *buffer, uint32_t length)
{
    struct flash *flash = (struct flash *)user;
    if (offset > flash->size || length > flash->size - offset) return -1;
    memcpy(buffer, flash->bytes + offset, length);
    flash->calls++;
    flash->read += length;
    return 0;
}

/* --- canvases ------------------------------------------------------------ */

/* Every zefdec_canvas_format of zefdec.h, in its order, with its bits per
 * pixel: a new format is added here. */
static const struct canvas_format {
    const char *name;
    uint8_t bits;
} formats[] = {{"RGB565", 16}, {"RGB565_SWAPPED", 16}, {"XRGB8888", 32}, {"BGR565", 16},
               {"BGR565_SWAPPED", 16}, {"RGB888", 24}, {"BGR888", 24}, {"ARGB8888", 32},
               {"L8", 8}, {"L4", 4}, {"L2", 2}, {"L1", 1}, {"L1_PAGES", 1}};
#define CANVAS_FORMATS (sizeof formats / sizeof formats[0])

/* Rows a stride spans: a page of 8 on L1_PAGES, else one. */
static uint32_t rows_per_stride(zefdec_canvas_format format)
{
    return format == ZEFDEC_CANVAS_L1_PAGES ? 8 : 1;
}

/* STRIDE_PIXELS pixels, a packed row rounded up to whole bytes; a page
 * holds a byte per column. */
static uint32_t stride_of(zefdec_canvas_format format)
{
    return format == ZEFDEC_CANVAS_L1_PAGES ? STRIDE_PIXELS : (STRIDE_PIXELS * formats[format].bits + 7) / 8;
}

/* The storage a canvas of the format uses, its guard rows (pages) included:
 * what is hashed and written out. */
static size_t storage_bytes(zefdec_canvas_format format)
{
    const uint32_t rows = rows_per_stride(format);
    return stride_of(format) * ((CANVAS_HEIGHT + rows - 1) / rows + 2);
}

/* The storage a canvas of the format uses, word by word: FNV-1a's step
 * and a shift to carry high bits down, each step invertible so that one
 * changed word always changes the hash. Bytewise it took most of QEMU's
 * time. */
static uint32_t hash(const uint32_t *words, zefdec_canvas_format format)
{
    uint32_t h = 2166136261u;
    size_t n;
    for (n = 0; n < (storage_bytes(format) + 3) / 4; n++) {
        h = (h ^ words[n]) * 16777619u;
        h ^= h >> 13;
    }
    return h;
}

static void write_storage(const uint32_t *words, zefdec_canvas_format format)
{
    if (board_write(bytes_file, words, storage_bytes(format)) != 0) failures++;
}

/* The same pattern for the same seed on every build; on ARGB8888 a quarter
 * of the pixels transparent and a quarter opaque, the ends of its blend. */
static void fill(uint32_t *words, uint32_t seed, zefdec_canvas_format format)
{
    uint32_t x = seed * 2654435761u + 1;
    size_t n;
    for (n = 0; n < STORAGE_WORDS; n++) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        words[n] = x;
        if (format == ZEFDEC_CANVAS_ARGB8888 && n % 4 < 2) words[n] = (x & 0xFFFFFFu) | (n % 4 ? 0xFF000000u : 0);
    }
}

/* The canvas rows `top` to `top + height` - 1 of the storage; on L1_PAGES
 * `top` is a multiple of 8. */
static zefdec_canvas canvas_of(uint32_t *words, zefdec_canvas_format format, uint32_t top, uint32_t height)
{
    zefdec_canvas canvas;
    const uint32_t stride = stride_of(format);
    canvas.pixels = (uint8_t *)words + stride * (1 + top / rows_per_stride(format)); /* below the guard row */
    canvas.width = CANVAS_WIDTH;
    canvas.height = height;
    canvas.stride = stride;
    canvas.format = format;
    return canvas;
}

/* --- what is drawn ------------------------------------------------------- */

/* Every canvas is drawn with zefdec_draw, and with zefdec_draw_with and each
 * of these options; ordered dither only where it applies, on the grey
 * canvases of fewer than 8 bits. */
static const zefdec_draw_options option_sets[] = {
    {0, 0, ZEFDEC_DITHER_THRESHOLD, 0},
    {1, 0, ZEFDEC_DITHER_THRESHOLD, 0},
    {128, 0, ZEFDEC_DITHER_THRESHOLD, 0},
    {254, 1, ZEFDEC_DITHER_THRESHOLD, 0x3C9AE1},
    {255, 1, ZEFDEC_DITHER_THRESHOLD, 0xF0407F},
    {255, 0, ZEFDEC_DITHER_BAYER, 0},
    {128, 0, ZEFDEC_DITHER_BAYER, 0},
    {254, 1, ZEFDEC_DITHER_BAYER, 0x808080},
};
#define OPTION_SETS (sizeof option_sets / sizeof option_sets[0])

struct draw_case {
    zefdec_canvas_format format;
    const zefdec_draw_options *options; /* NULL: zefdec_draw */
};
static struct draw_case cases[CANVAS_FORMATS * (1 + OPTION_SETS)];
static uint32_t case_count;

static void make_cases(void)
{
    size_t f, o;
    for (f = 0; f < CANVAS_FORMATS; f++) {
        cases[case_count].format = (zefdec_canvas_format)f;
        cases[case_count++].options = 0;
        for (o = 0; o < OPTION_SETS; o++) {
            if (option_sets[o].dither != ZEFDEC_DITHER_THRESHOLD && formats[f].bits >= 8) continue;
            cases[case_count].format = (zefdec_canvas_format)f;
            cases[case_count++].options = &option_sets[o];
        }
    }
}

static int draw(const zefdec_archive *archive, uint32_t image, const zefdec_canvas *canvas, int32_t x, int32_t y,
                const struct draw_case *c)
{
    return c->options ? zefdec_draw_with(archive, image, canvas, x, y, c->options)
                      : zefdec_draw(archive, image, canvas, x, y);
}

/* Bands must start where the canvas can: on a page, and for ordered dither
 * on a row of the pattern's, so that they line up with one draw. */
static uint32_t band_rows(const struct draw_case *c, uint32_t band)
{
    uint32_t unit = 1;
    if (c->format == ZEFDEC_CANVAS_L1_PAGES)
        unit = 8;
    else if (c->options && c->options->dither == ZEFDEC_DITHER_BAYER)
        unit = 4;
    return (band + unit - 1) / unit * unit;
}

/* --- the draws ----------------------------------------------------------- */

struct source {
    const char *name;
    zefdec_archive archive;
};

static void label(uint32_t archive, uint32_t image, const struct draw_case *c, const char *source)
{
    put("archive ");
    put_number((int32_t)archive);
    put(" image ");
    put_number((int32_t)image);
    put(" ");
    put(formats[c->format].name);
    if (c->options) {
        put(" opacity ");
        put_number(c->options->opacity);
        if (c->options->recolour) {
            put(" in ");
            put_hex(c->options->colour);
        }
        if (c->options->dither == ZEFDEC_DITHER_BAYER) put(" ordered");
    }
    put(" ");
    put(source);
}

/* Offsets that put an image of `size` pixels wholly before the canvas of
 * `room` pixels, over its first edge, inside, over its last edge, wholly
 * after it. */
static void offsets(int32_t size, int32_t room, int32_t out[9])
{
    out[0] = -size;
    out[1] = 1 - size;
    out[2] = -size / 2;
    out[3] = 0;
    out[4] = (room - size) / 2;
    out[5] = room - size;
    out[6] = room - size / 2 - 1;
    out[7] = room - 1;
    out[8] = room;
}

/* Plain draws go to every pair of offsets; draws with options only to the
 * two diagonals, which still meet every edge and corner. */
static void draw_at_edges(uint32_t a, struct source *sources, uint32_t image, const zefdec_image_info *info,
                          const struct draw_case *c, uint32_t seed)
{
    int32_t xs[9], ys[9];
    int s, i, j;
    offsets((int32_t)info->width, CANVAS_WIDTH, xs);
    offsets((int32_t)info->height, CANVAS_HEIGHT, ys);
    for (s = 0; s < 2; s++) {
        uint32_t *words = storage[s];
        zefdec_canvas canvas = canvas_of(words, c->format, 0, CANVAS_HEIGHT);
        fill(words, seed, c->format);
        for (j = 0; j < 9; j++) {
            for (i = 0; i < 9; i++) {
                int result;
                if (c->options && i != j && i + j != 8) continue;
                result = draw(&sources[s].archive, image, &canvas, xs[i], ys[j], c);
                label(a, image, c, sources[s].name);
                put(" at ");
                put_number(xs[i]);
                put(",");
                put_number(ys[j]);
                put(": ");
                put_number(result);
                put(" ");
                put_hex(hash(words, c->format));
                end_line();
                if (result != ZEFDEC_OK) fail("zefdec_draw");
            }
        }
    }
    write_storage(storage[0], c->format);
    if (memcmp(storage[0], storage[1], storage_bytes(c->format)) != 0) {
        label(a, image, c, "");
        fail("through the callback the framebuffer differs from the draw from memory");
    }
}

/* The image decoded line by line in each line format (pixels and alpha),
 * and as spans, into the bytes file and the text file. */
static uint32_t line_words[3 * 128 / 4]; /* aligned for 16-bit pixels */
static uint8_t line_alpha[128];
#define line_pixels ((uint8_t *)line_words)

static void decode_lines(uint32_t a, struct source *source, uint32_t image, const zefdec_image_info *info)
{
    static const char *const line_formats[] = {"RGB565", "ARGB4444", "BGR888"};
    zefdec_image decoder;
    zefdec_span span;
    uint32_t y, h, spans;
    int format, result;
    if (info->width > sizeof line_alpha) {
        fail("an image wider than the line buffer");
        return;
    }
    for (format = 0; format < 3; format++) {
        const size_t bytes = info->width * (format == ZEFDEC_BGR888 ? 3u : 2u);
        h = 2166136261u;
        result = zefdec_begin(&decoder, &source->archive, image, (zefdec_format)format);
        for (y = 0; result == ZEFDEC_OK && y < info->height; y++) {
            size_t n;
            result = zefdec_line(&decoder, line_words, line_alpha, sizeof line_alpha);
            if (board_write(bytes_file, line_pixels, bytes) != 0 ||
                board_write(bytes_file, line_alpha, info->width) != 0)
                failures++;
            for (n = 0; n < bytes; n++) h = (h ^ line_pixels[n]) * 16777619u;
            for (n = 0; n < info->width; n++) h = (h ^ line_alpha[n]) * 16777619u;
        }
        put("archive ");
        put_number((int32_t)a);
        put(" image ");
        put_number((int32_t)image);
        put(" ");
        put(source->name);
        put(" lines ");
        put(line_formats[format]);
        put(": ");
        put_number(result);
        put(" ");
        put_hex(h);
        end_line();
        if (result != ZEFDEC_OK) fail("zefdec_line");

        h = 2166136261u;
        spans = 0;
        result = zefdec_begin(&decoder, &source->archive, image, (zefdec_format)format);
        while (result == ZEFDEC_OK && (result = zefdec_next_span(&decoder, &span)) == ZEFDEC_OK) {
            const uint32_t fields[5] = {span.x, span.y, span.length, span.pixel,
                                        (uint32_t)span.colour | (uint32_t)span.alpha << 16};
            size_t n;
            for (n = 0; n < 5; n++) h = (h ^ fields[n]) * 16777619u;
            spans++;
        }
        put("  spans: ");
        put_number(result);
        put(", ");
        put_number((int32_t)spans);
        put(" ");
        put_hex(h);
        end_line();
        if (result != ZEFDEC_END) fail("zefdec_next_span");
    }
}

/* Draws at (x, y) in bands of `band` rows, and once whole, and compares. */
static void draw_in_bands(uint32_t a, struct source *source, uint32_t image, const struct draw_case *c,
                          uint32_t seed, int32_t x, int32_t y, uint32_t band, int upwards)
{
    zefdec_canvas whole = canvas_of(storage[2], c->format, 0, CANVAS_HEIGHT);
    const uint32_t bands = (CANVAS_HEIGHT + band - 1) / band;
    uint32_t n;
    int result;
    fill(storage[0], seed, c->format);
    fill(storage[2], seed, c->format);
    for (n = 0; n < bands; n++) {
        const uint32_t top = (upwards ? bands - 1 - n : n) * band;
        const uint32_t height = CANVAS_HEIGHT - top < band ? CANVAS_HEIGHT - top : band;
        zefdec_canvas part = canvas_of(storage[0], c->format, top, height);
        result = draw(&source->archive, image, &part, x, y - (int32_t)top, c);
        label(a, image, c, source->name);
        put(" at ");
        put_number(x);
        put(",");
        put_number(y);
        put(" band ");
        put_number((int32_t)top);
        put("+");
        put_number((int32_t)height);
        put(": ");
        put_number(result);
        put(" ");
        put_hex(hash(storage[0], c->format));
        end_line();
        if (result != ZEFDEC_OK) fail("zefdec_draw of a band");
    }
    result = draw(&source->archive, image, &whole, x, y, c);
    if (result != ZEFDEC_OK || memcmp(storage[0], storage[2], storage_bytes(c->format)) != 0) {
        label(a, image, c, source->name);
        put(upwards ? " bands upwards of " : " bands of ");
        put_number((int32_t)band);
        fail("differ from one draw of the whole canvas");
    }
}

static void draw_archive(uint32_t a)
{
    const struct target_archive *entry = &target_archives[a];
    static zefdec_reader reader;
    struct flash flash;
    struct source sources[2];
    uint32_t image, count;
    int result, s;
    static const uint32_t bands[] = {1, 5, 16};

    put("archive ");
    put_number((int32_t)a);
    put(": ");
    put(entry->name);
    put(", ");
    put_number((int32_t)entry->size);
    put(" bytes");
    end_line();

    sources[0].name = "memory";
    sources[1].name = "callback";
    flash.bytes = entry->bytes;
    flash.size = entry->size;
    flash.calls = flash.read = 0;
    result = zefdec_open(&sources[0].archive, entry->bytes, entry->size);
    put("open from memory: ");
    put_number(result);
    end_line();
    if (result != ZEFDEC_OK) {
        fail("zefdec_open");
        return;
    }
    result = zefdec_open_reader(&sources[1].archive, &reader, flash_read, &flash, entry->size, 0);
    put("archive ");
    put_number((int32_t)a);
    put(" opened through the callback: ");
    put_number((int32_t)flash.calls);
    put(" calls, ");
    put_number((int32_t)flash.read);
    put(" bytes");
    end_line_in(reads_file);
    put("open through the callback: ");
    put_number(result);
    end_line();
    if (result != ZEFDEC_OK) {
        fail("zefdec_open_reader");
        return;
    }

    count = zefdec_count(&sources[0].archive);
    for (image = 0; image < count; image++) {
        zefdec_image_info info;
        uint32_t c;
        result = zefdec_info(&sources[0].archive, image, &info);
        put("image ");
        put_number((int32_t)image);
        put(": ");
        put_number(result);
        put(", ");
        put_number((int32_t)info.width);
        put(" x ");
        put_number((int32_t)info.height);
        put(", alpha bits ");
        put_number(info.alpha_bits);
        put(", number ");
        put_number((int32_t)info.number);
        end_line();
        if (result != ZEFDEC_OK) {
            fail("zefdec_info");
            continue;
        }
        for (s = 0; s < 2; s++) decode_lines(a, &sources[s], image, &info);
        for (c = 0; c < case_count; c++) {
            const struct draw_case *dc = &cases[c];
            const uint32_t seed = a * 100000 + image * 1000 + c;
            const int32_t w = (int32_t)info.width, h = (int32_t)info.height;
            /* plain draws in bands of every height, those with options in one */
            const size_t band_count = dc->options ? 1 : sizeof bands / sizeof bands[0];
            size_t b;
            draw_at_edges(a, sources, image, &info, dc, seed);
            for (s = 0; s < 2; s++) {
                for (b = 0; b < band_count; b++) {
                    const uint32_t rows = band_rows(dc, bands[dc->options ? 1 : b]);
                    /* over the top and left edges, and over the bottom and right */
                    draw_in_bands(a, &sources[s], image, dc, seed, -w / 3, -h / 3, rows, 0);
                    draw_in_bands(a, &sources[s], image, dc, seed, CANVAS_WIDTH - 2 * w / 3,
                                  CANVAS_HEIGHT - 2 * h / 3, rows, 0);
                }
                /* out of order: the bottom band first */
                draw_in_bands(a, &sources[s], image, dc, seed, w / 4 - w / 2, CANVAS_HEIGHT / 2 - h / 2,
                              band_rows(dc, 5), 1);
            }
        }
    }
    put("archive ");
    put_number((int32_t)a);
    put(" through the callback in all: ");
    put_number((int32_t)flash.calls);
    put(" calls, ");
    put_number((int32_t)flash.read);
    put(" bytes");
    end_line_in(reads_file);
}

int main(void)
{
    uint32_t a;
    text_file = board_create("draw.txt");
    bytes_file = board_create("draw.bin");
    reads_file = board_create("reads.txt");
    if (text_file < 0 || bytes_file < 0 || reads_file < 0) {
        board_print("target_draw: cannot create draw.txt, draw.bin and reads.txt\n");
        return 100;
    }
    make_cases();
    for (a = 0; a < target_archive_count; a++) draw_archive(a);
    board_close(text_file);
    board_close(bytes_file);
    board_close(reads_file);
    board_print("target_draw: ");
    board_print_number(target_archive_count);
    board_print(" archives drawn, ");
    board_print_number(failures);
    board_print(" failures\n");
    return failures > 99 ? 99 : (int)failures;
}

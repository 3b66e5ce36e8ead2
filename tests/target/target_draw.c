/*
 * The drawing program of the target_draw test, built unchanged for the
 * Cortex-M4 (run on QEMU's mps2-an386) and for the host: it draws every
 * image of the archives of target_archives.c onto a small framebuffer in
 * every canvas format, from memory and through the read callback (64-byte
 * window), at positions that clip it at every edge and corner or put it
 * wholly outside, and in horizontal bands of several heights (one
 * zefdec_draw per band, the band as canvas; top to bottom, and bottom to
 * top). It also decodes every image line by line in every line format and
 * as spans. It writes
 *   draw.txt  one line per draw: what was drawn, the result and a hash
 *             of the whole framebuffer storage after it; one per image
 *             decoded in lines or spans, with a hash of what came out;
 *   draw.bin  the whole framebuffer storage (padding and guard rows
 *             included) after each sequence of draws, and every decoded
 *             line with its alpha;
 * and the test compares both files of the two builds byte for byte; and
 *   reads.txt the calls and bytes of the read callback, which differ
 *             between builds of the decoder and are not compared.
 * On each build it also checks that a draw through the callback leaves the
 * framebuffer as the same draw from memory, and that bands leave it as one
 * draw of the whole canvas; the exit status counts what differed or
 * failed (0: nothing).
 */
#include <string.h>

#include "board.h"
#include "target_archives.h"
#include "zefdec.h"

#define CANVAS_WIDTH 40
#define CANVAS_HEIGHT 32
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

static void fail(const char *what)
{
    put("FAILED: ");
    put(what);
    end_line();
    failures++;
}

/* FNV-1a over the framebuffer storage */
static uint32_t hash(const uint32_t *words)
{
    const uint8_t *bytes = (const uint8_t *)words;
    uint32_t h = 2166136261u;
    size_t n;
    for (n = 0; n < sizeof storage[0]; n++) h = (h ^ bytes[n]) * 16777619u;
    return h;
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

/* Every zefdec_canvas_format of zefdec.h: a new format is added here. */
#define CANVAS_FORMATS 3
static const char *const format_names[CANVAS_FORMATS] = {"RGB565", "RGB565_SWAPPED", "XRGB8888"};

static uint32_t bytes_per_pixel(zefdec_canvas_format format)
{
    return format == ZEFDEC_CANVAS_XRGB8888 ? 4 : 2;
}

/* The same pattern for the same seed on every build. */
static void fill(uint32_t *words, uint32_t seed)
{
    uint32_t x = seed * 2654435761u + 1;
    size_t n;
    for (n = 0; n < STORAGE_WORDS; n++) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        words[n] = x;
    }
}

/* The canvas rows `top` to `top + height` - 1 of the storage. */
static zefdec_canvas canvas_of(uint32_t *words, zefdec_canvas_format format, uint32_t top, uint32_t height)
{
    zefdec_canvas canvas;
    const uint32_t stride = STRIDE_PIXELS * bytes_per_pixel(format);
    canvas.pixels = (uint8_t *)words + stride * (1 + top); /* below the guard row */
    canvas.width = CANVAS_WIDTH;
    canvas.height = height;
    canvas.stride = stride;
    canvas.format = format;
    return canvas;
}

/* --- the draws ----------------------------------------------------------- */

struct source {
    const char *name;
    zefdec_archive archive;
};

static void label(uint32_t archive, uint32_t image, zefdec_canvas_format format, const char *source)
{
    put("archive ");
    put_number((int32_t)archive);
    put(" image ");
    put_number((int32_t)image);
    put(" ");
    put(format_names[format]);
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

static void draw_at_edges(uint32_t a, struct source *sources, uint32_t image, const zefdec_image_info *info,
                          zefdec_canvas_format format, uint32_t seed)
{
    int32_t xs[9], ys[9];
    int s, i, j;
    offsets((int32_t)info->width, CANVAS_WIDTH, xs);
    offsets((int32_t)info->height, CANVAS_HEIGHT, ys);
    for (s = 0; s < 2; s++) {
        uint32_t *words = storage[s];
        zefdec_canvas canvas = canvas_of(words, format, 0, CANVAS_HEIGHT);
        fill(words, seed);
        for (j = 0; j < 9; j++) {
            for (i = 0; i < 9; i++) {
                const int result = zefdec_draw(&sources[s].archive, image, &canvas, xs[i], ys[j]);
                label(a, image, format, sources[s].name);
                put(" at ");
                put_number(xs[i]);
                put(",");
                put_number(ys[j]);
                put(": ");
                put_number(result);
                put(" ");
                put_hex(hash(words));
                end_line();
                if (result != ZEFDEC_OK) fail("zefdec_draw");
            }
        }
        if (board_write(bytes_file, words, sizeof storage[0]) != 0) failures++;
    }
    if (memcmp(storage[0], storage[1], sizeof storage[0]) != 0) {
        label(a, image, format, "");
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
static void draw_in_bands(uint32_t a, struct source *source, uint32_t image, zefdec_canvas_format format,
                          uint32_t seed, int32_t x, int32_t y, uint32_t band, int upwards)
{
    zefdec_canvas whole = canvas_of(storage[2], format, 0, CANVAS_HEIGHT);
    const uint32_t bands = (CANVAS_HEIGHT + band - 1) / band;
    uint32_t n;
    int result;
    fill(storage[0], seed);
    fill(storage[2], seed);
    for (n = 0; n < bands; n++) {
        const uint32_t top = (upwards ? bands - 1 - n : n) * band;
        const uint32_t height = CANVAS_HEIGHT - top < band ? CANVAS_HEIGHT - top : band;
        zefdec_canvas part = canvas_of(storage[0], format, top, height);
        result = zefdec_draw(&source->archive, image, &part, x, y - (int32_t)top);
        label(a, image, format, source->name);
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
        put_hex(hash(storage[0]));
        end_line();
        if (result != ZEFDEC_OK) fail("zefdec_draw of a band");
    }
    if (board_write(bytes_file, storage[0], sizeof storage[0]) != 0) failures++;
    result = zefdec_draw(&source->archive, image, &whole, x, y);
    if (result != ZEFDEC_OK || memcmp(storage[0], storage[2], sizeof storage[0]) != 0) {
        label(a, image, format, source->name);
        put(upwards ? " bands upwards of " : " bands of ");
        put_number((int32_t)band);
        fail(" differ from one draw of the whole canvas");
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
        int format;
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
        for (format = 0; format < CANVAS_FORMATS; format++) {
            const uint32_t seed = a * 1000 + image * 10 + (uint32_t)format;
            const int32_t w = (int32_t)info.width, h = (int32_t)info.height;
            size_t b;
            draw_at_edges(a, sources, image, &info, (zefdec_canvas_format)format, seed);
            for (s = 0; s < 2; s++) {
                for (b = 0; b < sizeof bands / sizeof bands[0]; b++) {
                    /* over the top and left edges, and over the bottom and right */
                    draw_in_bands(a, &sources[s], image, (zefdec_canvas_format)format, seed, -w / 3, -h / 3,
                                  bands[b], 0);
                    draw_in_bands(a, &sources[s], image, (zefdec_canvas_format)format, seed,
                                  CANVAS_WIDTH - 2 * w / 3, CANVAS_HEIGHT - 2 * h / 3, bands[b], 0);
                }
                /* out of order: the bottom band first */
                draw_in_bands(a, &sources[s], image, (zefdec_canvas_format)format, seed, w / 4 - w / 2,
                              CANVAS_HEIGHT / 2 - h / 2, 5, 1);
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

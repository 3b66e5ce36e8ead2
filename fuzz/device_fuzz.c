/*
 * libFuzzer target for the device decoder (device/zefdec.c).
 *
 *   clang-14 -std=c99 -g -O1 -fsanitize=fuzzer,address,undefined -DZEFDEC_CANVASES=ZEFDEC_WITH_ALL \
 *       -fno-sanitize-recover=all -Idevice -Iarchive device/zefdec.c fuzz/device_fuzz.c -o device_fuzz
 *   ./device_fuzz -dict=fuzz/zef.dict fuzz/corpus-device fuzz/seeds/device
 *
 * An archive that opens must decode completely, in every format, by lines
 * and by spans alike, with the spans painting exactly the lines. Then the
 * archive's bytes are changed behind the decoder's back, which the API
 * forbids: decoding may fail, but must still stay inside both buffers.
 * Lines go to buffers of exactly the image width, so that the sanitizer
 * sees any write past them. Every image is also drawn onto canvases of
 * exactly their size, of a shape and at places chosen from a hash of the
 * input: pixels outside the image and the bytes between rows must stay as
 * they were, and on a sound archive the drawn pixels must be those of the
 * lines. The canvas format (any of them) and the draw options (opacity,
 * recolouring, dither) come from the same hash.
 *
 * The same bytes are opened through a read callback too, with and without
 * the whole-archive check (a bit of the input's hash picks which), and
 * must give every result of the archive in memory opened alike; the
 * callback aborts on any read outside the archive. A trusted archive that
 * is damaged is decoded and drawn as a changed one is: with errors, but
 * inside its buffers.
 *
 * An input that starts with "V4" is a recipe rather than an archive: the
 * bytes after it choose a sound version 4 archive (size, index width,
 * entries and every op), which must open and decode. So the sound paths of
 * version 4 are reached far more often than by changed archives, which the
 * seeds of fuzz/seeds/device (and fuzz/make_device_seeds.py) give too.
 */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "zefdec.h"

/* A changed archive can announce any width; a sound one only what its
 * runs can cover. */
#define MAX_CHANGED_WIDTH 4096u

static const size_t bytes_per_pixel[3] = {2, 2, 3};

static void fail(void) { abort(); }

/* ---- Version 4 archives made from a recipe ---- */

#define RECIPE_MAX_WIDTH 300u
#define RECIPE_MAX_HEIGHT 12u
#define RECIPE_MAX_IMAGES 3u
/* header and table, then per image its head, 256 entries and lines of at
 * most 3 bytes a pixel (a literal of one 8-bit index, or a run and index) */
#define RECIPE_ROOM (64u + RECIPE_MAX_IMAGES * (16u + 4u * 256u + 3u * RECIPE_MAX_WIDTH * RECIPE_MAX_HEIGHT))

typedef struct recipe {
    const uint8_t *p, *end;
} recipe;

/* The recipe's next byte; 0 once it is used up, which ends lines in runs
 * of entry 0. */
static uint32_t take(recipe *r) { return r->p < r->end ? *r->p++ : 0; }

static void put_u32(uint8_t *at, uint32_t value)
{
    at[0] = (uint8_t)value;
    at[1] = (uint8_t)(value >> 8);
    at[2] = (uint8_t)(value >> 16);
    at[3] = (uint8_t)(value >> 24);
}

/* One image block: every op the recipe asks for, cut to its line. */
static size_t make_v4_image(recipe *r, uint8_t *out, uint32_t width, uint32_t height)
{
    const uint32_t bits = 1 + take(r) % 8, entries = 1 + take(r) % (1u << bits);
    size_t n = 0;
    uint32_t i, y, x;

    out[n++] = 0xAF;
    out[n++] = 0xFE;
    out[n++] = (uint8_t)bits;
    out[n++] = (uint8_t)(entries - 1);
    for (i = 0; i < 4 * entries; i++)
        out[n++] = (uint8_t)take(r);
    for (y = 0; y < height; y++)
        for (x = 0; x < width;) {
            const uint32_t op = take(r), left = width - x;
            uint32_t length;
            if (op < 0x80) {
                uint32_t pending = 0, have = 0;
                length = op + 1 < left ? op + 1 : left;
                out[n++] = (uint8_t)(length - 1);
                for (i = 0; i < length; i++) {
                    pending = pending << bits | take(r) % entries;
                    for (have += bits; have >= 8; have -= 8)
                        out[n++] = (uint8_t)(pending >> (have - 8));
                }
                if (have)
                    out[n++] = (uint8_t)(pending << (8 - have));
            } else {
                length = (op & 0x3F) + 1 < left ? (op & 0x3F) + 1 : left;
                out[n++] = (uint8_t)((op & 0xC0) | (length - 1));
                if (op < 0xC0)
                    out[n++] = (uint8_t)(take(r) % entries);
            }
            x += length;
        }
    return n;
}

/* A sound version 4 archive of up to three images. */
static size_t make_v4(const uint8_t *data, size_t size, uint8_t *out)
{
    static const uint8_t head[] = {0xAA, 0xFF, 0xAA, 4, 0, 0, 0, 0, 0, 4, 1, 8, 8, 1, 16, 1};
    recipe r;
    uint32_t count, start_index, i, sizes[RECIPE_MAX_IMAGES][2];
    size_t n, records;

    r.p = data;
    r.end = data + size;
    count = 1 + take(&r) % RECIPE_MAX_IMAGES;
    memcpy(out, head, sizeof head);
    put_u32(out + 5, count);
    n = sizeof head;
    start_index = take(&r) << 24;
    start_index |= take(&r);
    put_u32(out + n, start_index);
    n += 4;
    out[n++] = 0xFF;
    out[n++] = 0xEE;
    out[n++] = 0xDD;
    out[n++] = 0xBE;
    out[n++] = 0xBA;
    records = n;
    n += 14 * count;
    for (i = 0; i < count; i++) {
        sizes[i][0] = take(&r) << 8;
        sizes[i][0] = 1 + (sizes[i][0] | take(&r)) % RECIPE_MAX_WIDTH;
        sizes[i][1] = 1 + take(&r) % RECIPE_MAX_HEIGHT;
    }
    for (i = 0; i < count; i++) {
        uint8_t *record = out + records + 14 * i;
        record[0] = (uint8_t)i;
        record[1] = 0;
        put_u32(record + 2, sizes[i][0]);
        put_u32(record + 6, sizes[i][1]);
        put_u32(record + 10, (uint32_t)n);
        n += make_v4_image(&r, out + n, sizes[i][0], sizes[i][1]);
    }
    return n;
}

/* Paints one span into a line the way zefdec_line would. */
static void paint(uint8_t *line, uint8_t *alpha, const zefdec_span *span, zefdec_format format)
{
    uint32_t x;
    for (x = span->x; x < span->x + span->length; x++) {
        alpha[x] = span->alpha;
        if (format == ZEFDEC_BGR888) {
            line[3 * x] = (uint8_t)span->pixel;
            line[3 * x + 1] = (uint8_t)(span->pixel >> 8);
            line[3 * x + 2] = (uint8_t)(span->pixel >> 16);
        } else {
            uint16_t pixel = (uint16_t)span->pixel;
            memcpy(line + 2 * x, &pixel, 2);
        }
    }
}

/* Decodes one image by lines and by spans side by side; returns the first
 * error, and when `strict` treats any error as a finding. */
static int decode(const zefdec_archive *archive, uint32_t index, zefdec_format format, int strict)
{
    zefdec_image_info info;
    zefdec_image by_line, by_span;
    zefdec_span span;
    uint8_t *line, *alpha, *painted, *painted_alpha;
    size_t line_bytes;
    uint32_t y;
    int rc, span_rc = ZEFDEC_OK, have_span = 0;

    if (zefdec_info(archive, index, &info) != ZEFDEC_OK)
        fail();
    if (!strict && info.width > MAX_CHANGED_WIDTH)
        return ZEFDEC_OK;
    line_bytes = (size_t)info.width * bytes_per_pixel[format];
    line = malloc(line_bytes + 1);
    alpha = malloc((size_t)info.width + 1);
    painted = malloc(line_bytes + 1);
    painted_alpha = malloc((size_t)info.width + 1);
    if (!line || !alpha || !painted || !painted_alpha)
        fail();
    rc = zefdec_begin(&by_line, archive, index, format);
    if (rc == ZEFDEC_OK && zefdec_begin(&by_span, archive, index, format) != ZEFDEC_OK)
        fail();
    for (y = 0; rc == ZEFDEC_OK && y < info.height; y++) {
        rc = zefdec_line(&by_line, line, alpha, info.width);
        if (rc != ZEFDEC_OK)
            break;
        memset(painted, 0xA5, line_bytes);
        memset(painted_alpha, 0xA5, info.width);
        for (;;) {
            if (!have_span) {
                span_rc = zefdec_next_span(&by_span, &span);
                have_span = span_rc == ZEFDEC_OK;
            }
            if (!have_span || span.y != y)
                break;
            if (span.length == 0 || span.x + span.length > info.width || span.x + span.length < span.x)
                fail();
            paint(painted, painted_alpha, &span, format);
            have_span = 0;
        }
        /* spans cover every pixel, so the painted line is the decoded one */
        if (memcmp(line, painted, line_bytes) != 0 ||
            memcmp(alpha, painted_alpha, info.width) != 0)
            fail();
    }
    if (strict && rc == ZEFDEC_OK && y == info.height) {
        if (zefdec_line(&by_line, line, alpha, info.width) != ZEFDEC_E_ORDER)
            fail();
        if (have_span || zefdec_next_span(&by_span, &span) != ZEFDEC_END)
            fail();
    }
    if (strict && (rc != ZEFDEC_OK || span_rc < 0))
        fail();
    free(line);
    free(alpha);
    free(painted);
    free(painted_alpha);
    return rc;
}

static uint32_t next_random(uint32_t *state)
{
    /* xorshift: any fixed sequence would do, as long as the input picks it */
    *state ^= *state << 13;
    *state ^= *state >> 17;
    *state ^= *state << 5;
    return *state;
}

/* A place for `size` pixels on `room`: mostly near the canvas, sometimes at
 * the ends of the coordinate range. */
static int64_t random_place(uint32_t *random, uint32_t size, uint32_t room)
{
    uint32_t pick = next_random(random);
    if (pick % 16 == 0)
        return pick & 16 ? INT32_MIN : INT32_MAX;
    return (int64_t)(pick % ((uint64_t)size + room + 5)) - (int64_t)size - 2;
}

/* The image's pixels as zefdec_line gives them in RGB565 with their alpha,
 * line by line; the caller frees the two buffers. */
static int decode_565(const zefdec_archive *archive, uint32_t index, const zefdec_image_info *info,
                      uint16_t **pixels, uint8_t **alpha)
{
    zefdec_image image;
    size_t count = (size_t)info->width * info->height;
    uint32_t y;
    int rc;

    *pixels = malloc(count * sizeof **pixels + 1);
    *alpha = malloc(count + 1);
    if (!*pixels || !*alpha)
        fail();
    rc = zefdec_begin(&image, archive, index, ZEFDEC_RGB565);
    for (y = 0; rc == ZEFDEC_OK && y < info->height; y++)
        rc = zefdec_line(&image, *pixels + (size_t)y * info->width,
                         *alpha + (size_t)y * info->width, info->width);
    return rc;
}

/* Bytes per pixel of a canvas format, or 0 for packed grey of `*bits`
 * bits; *pages for columns of 8 rows a byte. */
static size_t canvas_bytes(zefdec_canvas_format format, unsigned *bits, int *pages)
{
    static const uint8_t bytes[] = {2, 2, 4, 2, 2, 3, 3, 4, 1, 0, 0, 0, 0};
    static const uint8_t packed[] = {4, 2, 1, 1};
    *pages = format == ZEFDEC_CANVAS_L1_PAGES;
    *bits = bytes[format] ? bytes[format] * 8u : packed[format - ZEFDEC_CANVAS_L4];
    return bytes[format];
}

/* Marks the bits of canvas pixel (x, y) in `mask`. */
static void mark_pixel(uint8_t *mask, const zefdec_canvas *canvas, uint32_t x, uint32_t y)
{
    unsigned bits;
    int pages;
    const size_t bytes = canvas_bytes(canvas->format, &bits, &pages);

    if (bytes)
        memset(mask + (size_t)y * canvas->stride + x * bytes, 0xFF, bytes);
    else if (pages)
        mask[(size_t)(y / 8) * canvas->stride + x] |= (uint8_t)(1u << (y % 8));
    else
        mask[(size_t)y * canvas->stride + x * bits / 8] |=
            (uint8_t)(((1u << bits) - 1) << (8 - bits - x * bits % 8));
}

/* Any options: opacity mostly at its ends, recolouring and either dither. */
static void random_options(zefdec_draw_options *options, uint32_t *random)
{
    const uint32_t pick = next_random(random);
    options->opacity = (uint8_t)(pick % 4 == 0 ? pick >> 8 : pick % 4 == 1 ? 0 : 255);
    options->recolour = (uint8_t)(pick >> 16 & 1);
    options->dither = (uint8_t)(pick >> 17 & 1);
    options->colour = next_random(random);
}

static void draw_randomly(const zefdec_archive *archive, uint32_t index, uint32_t *random,
                          int strict)
{
    zefdec_image_info info;
    uint16_t *lines = 0;
    uint8_t *alpha = 0;
    int round;

    if (zefdec_info(archive, index, &info) != ZEFDEC_OK)
        fail();
    if (strict && info.width <= MAX_CHANGED_WIDTH &&
        decode_565(archive, index, &info, &lines, &alpha) != ZEFDEC_OK)
        fail();
    for (round = 0; round < 4; round++) {
        zefdec_canvas canvas;
        zefdec_draw_options options;
        uint8_t *before, *mask;
        size_t bytes, size, at, row_bytes;
        unsigned bits;
        int pages;
        int64_t x, y;
        uint32_t cx, cy, pick = next_random(random);
        int rc, plain;

        canvas.format = (zefdec_canvas_format)(pick % (ZEFDEC_CANVAS_L1_PAGES + 1));
        bytes = canvas_bytes(canvas.format, &bits, &pages);
        random_options(&options, random);
        plain = pick >> 8 & 1;
        canvas.width = 1 + next_random(random) % 40;
        canvas.height = 1 + next_random(random) % 40;
        row_bytes = pages ? canvas.width : (canvas.width * bits + 7) / 8;
        canvas.stride = (uint32_t)(row_bytes + next_random(random) % 3 * (bytes ? bytes : 1));
        x = random_place(random, info.width, canvas.width);
        y = random_place(random, info.height, canvas.height);
        size = (size_t)canvas.stride * (pages ? (canvas.height + 7) / 8 : canvas.height);
        canvas.pixels = malloc(size);
        before = malloc(size);
        mask = calloc(size, 1);
        if (!canvas.pixels || !before || !mask)
            fail();
        for (at = 0; at < size; at++)
            before[at] = (uint8_t)next_random(random);
        memcpy(canvas.pixels, before, size);
        rc = plain ? zefdec_draw(archive, index, &canvas, (int32_t)x, (int32_t)y)
                   : zefdec_draw_with(archive, index, &canvas, (int32_t)x, (int32_t)y, &options);
        if (strict && rc != ZEFDEC_OK)
            fail();
        /* only the pixels under the image may change, and none at opacity 0 */
        for (cy = 0; cy < canvas.height; cy++)
            for (cx = 0; cx < canvas.width; cx++)
                if (cy >= y && cy < y + info.height && cx >= x && cx < x + info.width &&
                    (plain || options.opacity))
                    mark_pixel(mask, &canvas, cx, cy);
        for (at = 0; at < size; at++)
            if ((((const uint8_t *)canvas.pixels)[at] ^ before[at]) & ~mask[at])
                fail();
        /* on a sound archive, opaque pixels drawn onto RGB565 are the lines' */
        for (cy = 0; lines && canvas.format == ZEFDEC_CANVAS_RGB565 && cy < canvas.height; cy++) {
            const uint8_t *row = (const uint8_t *)canvas.pixels + (size_t)cy * canvas.stride;
            const uint8_t *old = before + (size_t)cy * canvas.stride;
            for (cx = 0; cy >= y && cy < y + info.height && cx < canvas.width; cx++) {
                const uint32_t c = options.colour;
                const uint16_t tint = (uint16_t)((c >> 8 & 0xF800) | (c >> 5 & 0x07E0) | (c >> 3 & 0x1F));
                size_t pixel;
                uint16_t drawn;
                if (cx < x || cx >= x + info.width)
                    continue;
                pixel = (size_t)(cy - y) * info.width + (size_t)(cx - x);
                memcpy(&drawn, row + cx * 2, 2);
                if (alpha[pixel] == 0 && memcmp(row + cx * 2, old + cx * 2, 2) != 0)
                    fail();
                if (alpha[pixel] == 255 && (plain || options.opacity == 255) &&
                    drawn != (plain || !options.recolour ? lines[pixel] : tint))
                    fail();
            }
        }
        free(canvas.pixels);
        free(before);
        free(mask);
    }
    free(lines);
    free(alpha);
}

static void decode_all(const zefdec_archive *archive, uint32_t *random, int strict)
{
    uint32_t i;
    int format;
    for (i = 0; i < zefdec_count(archive); i++) {
        for (format = ZEFDEC_RGB565; format <= ZEFDEC_BGR888; format++)
            decode(archive, i, (zefdec_format)format, strict);
        draw_randomly(archive, i, random, strict);
    }
}

typedef struct flash {
    const uint8_t *data;
    size_t size;
} flash;

static int flash_read(void *user, uint32_t offset, void *buffer, uint32_t length)
{
    const flash *f = (const flash *)user;
    if (offset > f->size || length > f->size - offset)
        fail();
    memcpy(buffer, f->data + offset, length);
    return 0;
}

/* Every image by lines through both archives: the same results, the same
 * pixels. */
static void compare(const zefdec_archive *memory, const zefdec_archive *read)
{
    uint32_t i, y;
    for (i = 0; i < zefdec_count(memory); i++) {
        zefdec_image_info info, read_info;
        zefdec_image a, b;
        uint16_t *line_a, *line_b;
        int rc;
        if (zefdec_info(memory, i, &info) != ZEFDEC_OK ||
            zefdec_info(read, i, &read_info) != ZEFDEC_OK ||
            info.width != read_info.width || info.height != read_info.height ||
            info.number != read_info.number || info.alpha_bits != read_info.alpha_bits)
            fail();
        if (info.width > MAX_CHANGED_WIDTH)
            continue;
        line_a = malloc((size_t)info.width * 2);
        line_b = malloc((size_t)info.width * 2);
        if (!line_a || !line_b)
            fail();
        rc = zefdec_begin(&a, memory, i, ZEFDEC_RGB565);
        if (zefdec_begin(&b, read, i, ZEFDEC_RGB565) != rc)
            fail();
        for (y = 0; rc == ZEFDEC_OK && y < info.height; y++) {
            rc = zefdec_line(&a, line_a, 0, info.width);
            if (zefdec_line(&b, line_b, 0, info.width) != rc ||
                (rc == ZEFDEC_OK && memcmp(line_a, line_b, (size_t)info.width * 2) != 0))
                fail();
        }
        free(line_a);
        free(line_b);
    }
}

/* The callback path against memory opened with the same flags. */
static void check_reader(const uint8_t *data, size_t size, uint32_t *random, int sound)
{
    static zefdec_reader reader;
    const unsigned flags = *random & 2 ? ZEFDEC_TRUSTED : 0;
    flash f;
    zefdec_archive memory, read;
    int rc;

    f.data = data;
    f.size = size;
    rc = zefdec_open_with(&memory, data, size, flags);
    if (zefdec_open_reader(&read, &reader, flash_read, &f, size, flags) != rc)
        fail();
    if (rc != ZEFDEC_OK)
        return;
    compare(&memory, &read);
    decode_all(&read, random, sound);
}

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zefdec_archive archive;
    uint8_t *copy;
    size_t i;
    uint32_t random = 2166136261u;

    for (i = 0; i < size; i++)
        random = (random ^ data[i]) * 16777619u;
    random |= 1;

    if (size >= 2 && data[0] == 'V' && data[1] == '4') {
        static uint8_t made[RECIPE_ROOM];
        size = make_v4(data + 2, size - 2, made);
        data = made;
        if (zefdec_open(&archive, data, size) != ZEFDEC_OK)
            fail();
    }

    if (zefdec_open(&archive, data, size) != ZEFDEC_OK) {
        if (zefdec_count(&archive) != 0)
            fail();
        check_reader(data, size, &random, 0);
        return 0;
    }
    check_reader(data, size, &random, 1);
    decode_all(&archive, &random, 1);

    copy = malloc(size);
    if (!copy)
        fail();
    memcpy(copy, data, size);
    if (zefdec_open(&archive, copy, size) != ZEFDEC_OK)
        fail();
    for (i = 0; i < size; i += 5)
        copy[i] ^= data[size - 1 - i] | 1;
    decode_all(&archive, &random, 0);
    free(copy);
    return 0;
}

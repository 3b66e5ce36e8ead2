/*
 * zefdec: decodes .zef image archives on a microcontroller.
 *
 * The archive stays where it is: in addressable memory (flash or RAM),
 * which the decoder reads in place, or behind a read callback (SPI flash
 * that is not memory-mapped, a file on an SD card), which it reads through
 * a small window. Versions 1, 2, 3 and 4 are read.
 *
 * It allocates nothing. Compiled by arm-none-eabi-gcc (-std=c99 -mthumb
 * -mcpu=CORE -Os or -O2, with ZEFDEC_FAST or without, with any canvases),
 * its object calls no function outside itself but these
 * (tests/docs/decoder_calls_test.sh holds the objects to this list):
 *   cortex-m4 -Os: none
 *   cortex-m4 -O2: memset
 *   cortex-m0plus -Os: __aeabi_idiv __aeabi_uidiv
 *   cortex-m0plus -O2: __aeabi_idiv __aeabi_uidiv memset
 * memset comes from the C library, the division
 * helpers of a core without a divide instruction from libgcc, which
 * arm-none-eabi-gcc links by itself. Other compilers and settings may
 * emit memcpy or memset for copies and clears of their own.
 *
 *   zefdec_open    checks the whole archive once: header, tables, palettes,
 *                  every image's run-length data or ops and every marker
 *                  position. An archive that the desktop reader refuses (for
 *                  version 4, the library core's decode) is refused here,
 *                  so drawing never stops half-way through an image.
 *   zefdec_open_reader  the same for an archive read through a callback.
 *                  Both take ZEFDEC_TRUSTED to check only header and tables.
 *   zefdec_info    width, height, number and alpha bits of an image.
 *   zefdec_archive_id  the id that ties an archive to its generated header.
 *   zefdec_begin   starts one image in one output format.
 *   zefdec_line    decodes the next line into a caller's buffer (or skips it).
 *   zefdec_next_span or: hands out the image as spans of equal pixels, for a
 *                  display driver that fills rectangles without a line buffer.
 *   zefdec_draw    puts a whole image onto a framebuffer at a place,
 *                  clipped to it, blending pixels that carry alpha.
 *   zefdec_strerror  a short text for any result, for logs.
 *
 * Images are chosen by their position: 0 for the first image of the
 * archive, up to zefdec_count() - 1. An image's number is the archive's
 * start index plus its position; it names the image (zefdec_info gives it,
 * the header of `zef pack --header` defines both) but is never taken here.
 *
 * Colours: each stored 4-bit channel n (versions 1 to 3) stands for the
 * 8-bit value n * 16, exactly as the desktop reader shows it; a version 4
 * entry holds its 8-bit channels as they are shown. Every format keeps the
 * top bits of those 8-bit channels, as the framebuffer blend stores them:
 * RGB565 red >> 3, green >> 2, blue >> 3 (so 8-bit white is 0xFFFF and
 * 4-bit white, 240, is 0xF79E), BGR888 the 8-bit values, ARGB4444 the top
 * nibbles (versions 1 to 3: the nibbles as stored).
 *
 * Alpha: the alpha code of a pixel (1 or 2 bits in version 3, the 4-bit
 * nibble of a version 1/2 colour word) is given as an 8-bit value whose top
 * bits are the code, repeated downwards so that the highest code is 255
 * (2 bits: 0, 85, 170, 255). Pixels of archives without alpha are 255.
 * The code is therefore alpha >> (8 - alpha_bits). Version 4 gives the
 * entry's 8-bit alpha as it is (alpha_bits 8).
 *
 * State: a zefdec_image holds no more than where it is: the next unread
 * byte, the line and the pixel in it, and for version 4 between two
 * zefdec_next_span calls inside a literal op the pixels left in it and the
 * bit where its next index starts. An archive remembers where its last
 * zefdec_draw stopped (see zefdec_draw). Nothing grows with the width or
 * height.
 *
 * Every call returns ZEFDEC_OK (0), ZEFDEC_END (zefdec_next_span only) or
 * a negative zefdec_error. No input makes the decoder read outside the archive or
 * write more than the image width into a line.
 */
#ifndef ZEFDEC_H
#define ZEFDEC_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum zefdec_result {
    ZEFDEC_OK = 0,
    ZEFDEC_END = 1                /* zefdec_next_span: the image has no more spans */
};

enum zefdec_error {
    ZEFDEC_E_ARGUMENT = -1,       /* null pointer, unknown format */
    ZEFDEC_E_HEADER = -2,         /* signature, header bytes, zero count (version 4:
                                     or past 65536) or size,
                                     end-of-header marker */
    ZEFDEC_E_VERSION = -3,        /* not version 1, 2, 3 or 4 */
    ZEFDEC_E_TABLE = -4,          /* image record marker or records, an image of
                                     width or height 0 (version 4: or width past
                                     65534), palette number */
    ZEFDEC_E_PALETTE = -5,        /* palette specifications or palette data;
                                     version 4: index bits not 1 to 8, or more
                                     entries than they address */
    ZEFDEC_E_MARKER = -6,         /* image marker missing or not at its offset */
    ZEFDEC_E_SHORT = -7,          /* image data ends before the image does */
    ZEFDEC_E_RUN = -8,            /* a run (version 4: an op) passes the end of its line */
    ZEFDEC_E_COLOUR = -9,         /* palette index outside the image's palette */
    ZEFDEC_E_LINE_COUNT = -10,    /* line entry count differs from the runs of the line */
    ZEFDEC_E_IMAGE_COUNT = -11,   /* image entry count differs from the runs of the image */
    ZEFDEC_E_READ = -12,          /* the read callback failed */
    ZEFDEC_E_NOT_OPEN = -13,      /* the archive was never opened, or its open failed */
    ZEFDEC_E_POSITION = -14,      /* no image at that position (see zefdec_count) */
    ZEFDEC_E_CANVAS = -15,        /* stride shorter than a row, or pixels or stride not
                                     aligned for the canvas format */
    ZEFDEC_E_ROOM = -16,          /* line buffer smaller than the image width */
    ZEFDEC_E_ORDER = -17          /* zefdec_line after the last line, or within a line
                                     that zefdec_next_span has begun */
};

/* Line formats. 16-bit pixels are native-endian uint16_t and the line must
 * be aligned for them; BGR888 is three bytes per pixel, blue first. */
typedef enum zefdec_format {
    ZEFDEC_RGB565 = 0,
    ZEFDEC_ARGB4444 = 1,
    ZEFDEC_BGR888 = 2
} zefdec_format;

/* Reads `length` bytes at `offset` of the archive into `buffer`; returns 0
 * when all of them were read, anything else on failure (the call then
 * fails with ZEFDEC_E_READ). The decoder never asks for bytes outside the
 * size it was opened with, nor for more than ZEFDEC_PALETTE_ROOM + 4 at
 * once.
 *
 * Every read suits a driver that moves words by DMA: `buffer` is 4-byte
 * aligned, `offset` is a multiple of 4, and so is `length` unless the read
 * ends at the archive's end (an archive whose size is a multiple of 4 is
 * read in whole words only). A read therefore starts up to 3 bytes before
 * the bytes the decoder wants and ends up to 3 after them. */
typedef int (*zefdec_read_fn)(void *user, uint32_t offset, void *buffer, uint32_t length);

/* Bytes of image data fetched per callback call. Lines are read through
 * this window, so a line of B bytes (2 per run of a version 3 image, 3 per
 * run of versions 1 and 2, plus 2 for its run count; a version 4 line's
 * ops) costs at most 1 + B / (ZEFDEC_WINDOW_SIZE - 4) calls (integer
 * division), whether it is decoded, drawn or passed over: a version 4
 * literal longer than the window streams through it. Starting an image
 * costs a call for its record and one for its marker, whose read fills
 * the window with the data behind it, and a version 3 or 4 image reads
 * its palette (up to 512 or 1024 bytes) in one call on its first line.
 *
 * A multiple of 4, at least 16. The decoder and every file that includes
 * this header must be compiled with the same value: zefdec_open_reader
 * refuses a reader of another window with ZEFDEC_E_ARGUMENT. The CMake
 * package sets it for both from its cache variable ZEFDEC_WINDOW_SIZE. */
#ifndef ZEFDEC_WINDOW_SIZE
#define ZEFDEC_WINDOW_SIZE 128
#endif
#if ZEFDEC_WINDOW_SIZE < 16 || ZEFDEC_WINDOW_SIZE % 4 != 0
#error "ZEFDEC_WINDOW_SIZE must be a multiple of 4 and at least 16"
#endif

/* The largest palette a reader holds: 256 version 4 entries of 4 bytes
 * (a version 3 palette is 256 colours of 2 bytes). */
#define ZEFDEC_PALETTE_ROOM 1024

/* The RAM of an archive read through a callback; the caller provides it
 * and keeps it while the archive is in use. The fields are the decoder's.
 * Images of one archive may be decoded in turns: the window and palette
 * are tagged with their file position and read again when another image
 * has replaced them.
 *
 * RAM of the decoder (Cortex-M4, -Os): zefdec_archive 52 bytes, a
 * zefdec_image 60, a zefdec_reader 1184 with the default window (only for
 * archives behind a callback). Built with ZEFDEC_FAST, zefdec_draw keeps
 * a table of 256 words (1 KB) on its stack: how each version 3 pixel code
 * or version 4 palette index is drawn (the canvas pixel, or its faded
 * alpha and colour to blend), worked out once per draw. Its deepest call
 * keeps at most 412 bytes on the stack by default and 1480 with
 * ZEFDEC_FAST (measured on the emulated Cortex-M4, -Os, through the
 * callback, the callback included), its zefdec_image included;
 * zefdec_open at most 360. No heap, and nothing grows with the image.
 *
 * Code: docs/firmware.md, as device/size.sh measures it. */
typedef struct zefdec_reader {
    /* first and in words, so that callback buffers are aligned */
    uint32_t window[ZEFDEC_WINDOW_SIZE / 4];
    uint32_t palette[ZEFDEC_PALETTE_ROOM / 4 + 1]; /* from the word that holds its first byte */
    zefdec_read_fn read;
    void *user;
    const struct zefdec_reading *reading; /* the decoder's functions for it */
    size_t window_at;             /* file position of window[0], a multiple of 4 */
    size_t window_length;         /* bytes of the window that hold data */
    uint32_t palette_at;          /* file position of the palette held, 0: none */
    uint8_t failed;               /* a read failed since the last call reported it */
} zefdec_reader;

/* Flags of zefdec_open_with and zefdec_open_reader. */
#define ZEFDEC_TRUSTED 1u         /* check header and tables only, not every image */

/* Filled by zefdec_open. The fields are the decoder's; read them only
 * through the functions below. */
typedef struct zefdec_archive {
    const uint8_t *data;          /* NULL when read through `reader` */
    zefdec_reader *reader;
    size_t size;
    uint32_t count;               /* 0 until zefdec_open succeeds */
    uint32_t start_index;
    uint32_t palette_count;
    size_t image_records;         /* file positions of the tables */
    size_t palette_records;
    uint8_t version;
    uint8_t alpha_bits;           /* version 3: of the alpha codes, 0, 1 or 2 */
    uint8_t alpha_position;
    uint8_t compressed;
    /* Where the last zefdec_draw stopped (the image, the next line, its
     * file position and, for versions 1 to 3, the image's runs left), so
     * that the next band of the same image resumes there; drawn_line 0:
     * nowhere. Kept here rather than in a cursor of the caller's so that
     * a GUI library that draws each band with plain zefdec_draw calls gets
     * it without knowing, for 16 bytes per archive; it is one image's
     * place, as bands come one image at a time. zefdec_draw writes these
     * fields although it takes the archive as const: draw one archive
     * from one thread at a time, as its reader's window requires anyway. */
    uint32_t drawn_position;
    uint32_t drawn_line;
    uint32_t drawn_runs_left;
    size_t drawn_next;
} zefdec_archive;

typedef struct zefdec_image_info {
    uint32_t width;
    uint32_t height;
    uint32_t number;              /* the archive's start index plus the image's position */
    uint8_t alpha_bits;           /* 0: opaque, no alpha stored; else 1, 2, 4 or 8 (version 4) */
} zefdec_image_info;

/* How one image's stored values turn into colour and alpha. */
typedef struct zefdec_layout {
    const uint8_t *palette;       /* version 3: the image's palette colours */
    uint32_t palette_at;          /* their file position */
    uint32_t palette_size;
    uint8_t form;
    uint8_t run_size;             /* bytes per run, or per raw pixel */
    uint8_t colour_shift;         /* where the 12 colour bits sit in a stored colour */
    uint8_t index_shift, index_mask;
    uint8_t alpha_shift, alpha_mask, alpha_scale, alpha_opaque;
} zefdec_layout;

/* One image being decoded. The fields are the decoder's. */
typedef struct zefdec_image {
    const zefdec_archive *archive;
    size_t next;                  /* file position of the next unread byte */
    zefdec_layout layout;
    uint32_t width;
    uint32_t height;
    uint32_t y;                   /* line being decoded or next to decode */
    uint32_t x;                   /* pixels of line y already handed out */
    uint32_t runs_left;           /* image entry count minus runs read */
    uint16_t line_runs_left;      /* wraps like the line entry count does */
    uint8_t literal_left;         /* version 4: pixels of the literal op being read */
    uint8_t literal_phase;        /* and the bits of its current byte already read */
    int8_t error;                 /* sticky: the first failure */
    uint8_t in_line;
    uint8_t format;
} zefdec_image;

/* A stretch of equal pixels within one line. */
typedef struct zefdec_span {
    uint32_t x;
    uint32_t y;
    uint32_t length;              /* 1 or more */
    uint32_t pixel;               /* in the image's format; BGR888 as blue | green << 8 | red << 16 */
    uint16_t colour;              /* 0x0RGB, the stored nibbles (version 4: the top
                                     nibble of each 8-bit channel) */
    uint8_t alpha;
} zefdec_span;

/* Checks the archive and fills *archive. The data must stay unchanged while
 * the archive is in use. Costs one read pass over the archive: on the
 * emulated Cortex-M4 at -Os, 8 to 10 instructions per archive byte for
 * either version with ZEFDEC_FAST, a quarter to a half of drawing every
 * image once (through a callback 2 to 4 more per byte); by default 31 to 32
 * for version 3 and 61 to 81 for version 4, half to two thirds of one
 * draw. */
int zefdec_open(zefdec_archive *archive, const void *data, size_t size);

/* zefdec_open with flags. ZEFDEC_TRUSTED reads only the header and the
 * tables, for an archive the firmware has checked before (built in, or
 * checked once after download): every later call still checks each byte it
 * uses, so a damaged trusted archive gives an error, never a read outside
 * it, but drawing may then stop part-way through an image. */
int zefdec_open_with(zefdec_archive *archive, const void *data, size_t size, unsigned flags);

/* Opens an archive of `size` bytes that `read` fetches, using the RAM of
 * *reader. Every check, call and result is that of the archive in memory;
 * a failed read gives ZEFDEC_E_READ. Opening without ZEFDEC_TRUSTED reads
 * the whole archive once, through the window.
 *
 * zefdec_open_reader passes the ZEFDEC_WINDOW_SIZE that its caller was
 * compiled with to zefdec_open_reader_window. A window other than the
 * decoder's is refused with ZEFDEC_E_ARGUMENT before the reader is
 * touched, as the two would disagree about the reader's size. */
int zefdec_open_reader_window(zefdec_archive *archive, zefdec_reader *reader, zefdec_read_fn read,
                              void *user, size_t size, unsigned flags, size_t window_size);
#define zefdec_open_reader(archive, reader, read, user, size, flags)                        \
    zefdec_open_reader_window(archive, reader, read, user, size, flags, ZEFDEC_WINDOW_SIZE)

/* Number of images; 0 for an archive that is not open. */
uint32_t zefdec_count(const zefdec_archive *archive);

int zefdec_info(const zefdec_archive *archive, uint32_t position, zefdec_image_info *info);

/* The archive id: a CRC-32 of the image count, the start index and each
 * image's width, height and alpha bits (docs/format.md, "Archive id"), the
 * value that the generated header defines as <PREFIX>_ARCHIVE_ID
 * (`zef pack --header`, `zef embed --header`, zef_add_assets). Read from
 * the tables alone, trusted or not: one record per image, no pixel data.
 *
 * It tells an archive flashed apart from the firmware that no longer fits
 * the header the firmware was built with: images added or removed, one
 * resized or given other alpha bits, another start index, images
 * reordered where their sizes differ. It does not change when only pixels
 * change (such an archive draws correctly with the old header), nor when
 * two images of the same size and alpha bits change places.
 *
 *     if (zefdec_open_reader(&archive, &reader, read, user, size, 0) != ZEFDEC_OK ||
 *         zefdec_archive_id(&archive) != UI_ARCHIVE_ID)
 *         return -1;
 *
 * 0 for an archive that is not open, or whose records cannot be read. */
uint32_t zefdec_archive_id(const zefdec_archive *archive);

/* Starts the image at `position` in the given format at its first line. */
int zefdec_begin(zefdec_image *image, const zefdec_archive *archive, uint32_t position,
                 zefdec_format format);

/* Decodes the next line. `line` takes width pixels in the image's format and
 * `alpha` width alpha values; either may be NULL (both NULL skips the line).
 * `room` is how many pixels each given buffer holds: less than the width is
 * refused before anything is written. */
int zefdec_line(zefdec_image *image, void *line, uint8_t *alpha, uint32_t room);

/* The next span of the image, in line order, left to right; ZEFDEC_END after
 * the last. Empty runs are passed over. Use either this or zefdec_line for
 * one image. */
int zefdec_next_span(zefdec_image *image, zefdec_span *span);

/* Canvases compiled into the decoder, stb-style: define ZEFDEC_CANVASES
 * as an OR of these for the decoder (the same value wherever this header
 * is included, or none but there). RGB565 is always in; each other canvas
 * costs its code only when asked for (device/size.sh lists what each
 * adds), RGB565_SWAPPED and XRGB8888 too, so that the default build is the
 * smallest. A canvas not compiled in is refused with ZEFDEC_E_ARGUMENT. */
#define ZEFDEC_WITH_RGB565 0x001u
#define ZEFDEC_WITH_BGR565 0x002u   /* BGR565, BGR565_SWAPPED */
#define ZEFDEC_WITH_RGB888 0x004u   /* RGB888, BGR888 */
#define ZEFDEC_WITH_ARGB8888 0x008u
#define ZEFDEC_WITH_L8 0x010u
#define ZEFDEC_WITH_L4 0x020u
#define ZEFDEC_WITH_L2 0x040u
#define ZEFDEC_WITH_L1 0x080u       /* rows of bits */
#define ZEFDEC_WITH_L1_PAGES 0x100u /* OLED pages */
#define ZEFDEC_WITH_RGB565_SWAPPED 0x200u
#define ZEFDEC_WITH_XRGB8888 0x400u
#define ZEFDEC_WITH_ALL 0x7FFu
#ifndef ZEFDEC_CANVASES
#define ZEFDEC_CANVASES ZEFDEC_WITH_RGB565
#endif

/* How the decoder is compiled, for speed or for code: define ZEFDEC_FAST
 * as 1 for the decoder to draw versions 3 and 4 through a table word per
 * palette index or pixel code, made once per draw, in a loop per pixel
 * size, and to check archives in loops of their own: a seventh to half the
 * instructions per drawn pixel and per archive byte, for about 9 KB
 * more code at -Os and 1 KB more stack. 0, the default, has one run loop
 * for everything and the least code. The pixels drawn are the same;
 * device/size.sh and docs/performance.md give the costs of both. Only the
 * decoder's own compile needs it. */
#ifndef ZEFDEC_FAST
#define ZEFDEC_FAST 0
#endif

/* Framebuffer formats for zefdec_draw. Pixels of 16 and 32 bits are
 * stored as their C type, so the buffer and the stride must be aligned for
 * it; the others are bytes and need no alignment.
 *
 * Grey canvases hold the luma of a colour, from BT.601 weights:
 *     Y = (77 * red + 150 * green + 29 * blue + 128) >> 8
 * and an N-bit level L stands for the 8-bit grey L * 255 / (2^N - 1)
 * (its bits repeated). Packed rows put the leftmost pixel of a byte in its
 * most significant bits; a row starts on a byte. */
typedef enum zefdec_canvas_format {
    ZEFDEC_CANVAS_RGB565 = 0,         /* native-endian uint16_t, red in the top 5 bits */
    ZEFDEC_CANVAS_RGB565_SWAPPED = 1, /* the same with its two bytes swapped, as SPI panels take it */
    ZEFDEC_CANVAS_XRGB8888 = 2,       /* native-endian uint32_t, 0x00RRGGBB; the top byte is left as it is */
    ZEFDEC_CANVAS_BGR565 = 3,         /* native-endian uint16_t, blue in the top 5 bits, red in the low 5 */
    ZEFDEC_CANVAS_BGR565_SWAPPED = 4, /* the same with its two bytes swapped */
    ZEFDEC_CANVAS_RGB888 = 5,         /* 3 bytes: red, green, blue */
    ZEFDEC_CANVAS_BGR888 = 6,         /* 3 bytes: blue, green, red */
    ZEFDEC_CANVAS_ARGB8888 = 7,       /* native-endian uint32_t, 0xAARRGGBB, a layer with its own alpha */
    ZEFDEC_CANVAS_L8 = 8,             /* 1 byte of grey per pixel, 255 white */
    ZEFDEC_CANVAS_L4 = 9,             /* 2 pixels a byte, 4-bit grey, left pixel in bits 7..4 */
    ZEFDEC_CANVAS_L2 = 10,            /* 4 pixels a byte, 2-bit grey, left pixel in bits 7..6 */
    ZEFDEC_CANVAS_L1 = 11,            /* 8 pixels a byte, 1 white, left pixel in bit 7 (e-paper rows) */
    ZEFDEC_CANVAS_L1_PAGES = 12       /* OLED pages: byte (y / 8) * stride + x holds column x of
                                         rows y & ~7 .. y | 7, row y in bit y % 8 (top row in bit 0),
                                         1 lit; stride is the bytes of one page, usually the width */
} zefdec_canvas_format;

typedef struct zefdec_canvas {
    void *pixels;                     /* top-left pixel (L1_PAGES: the first page's first byte) */
    uint32_t width, height;           /* in pixels */
    uint32_t stride;                  /* bytes from one row to the next (L1_PAGES: one page to the next) */
    zefdec_canvas_format format;
} zefdec_canvas;

/* How grey canvases of fewer than 8 bits choose a level. Threshold rounds
 * to the nearest level; Bayer adds an ordered 4 x 4 pattern taken at the
 * pixel's canvas position (x & 3, y & 3), so that images drawn next to
 * each other, and bands drawn through windows that start on a row and a
 * column that are multiples of 4, line up:
 *     L = (Y * (2^N - 1) + t) / 255,  t = 127 (threshold) or 16 * B + 8,
 * B the Bayer matrix 0 8 2 10 / 12 4 14 6 / 3 11 1 9 / 15 7 13 5 (rows by y). */
typedef enum zefdec_dither {
    ZEFDEC_DITHER_THRESHOLD = 0,
    ZEFDEC_DITHER_BAYER = 1
} zefdec_dither;

/* What zefdec_draw_with changes of a draw. */
typedef struct zefdec_draw_options {
    uint8_t opacity;                  /* 255: as zefdec_draw; 0: nothing drawn */
    uint8_t recolour;                 /* 1: every pixel in `colour`, with its own alpha (a mask) */
    uint8_t dither;                   /* a zefdec_dither, for L4, L2, L1 and L1_PAGES */
    uint32_t colour;                  /* 0xRRGGBB */
} zefdec_draw_options;

/* The options of zefdec_draw: as drawn, rounded to the nearest level. */
#define ZEFDEC_DRAW_OPTIONS_DEFAULT {255, 0, ZEFDEC_DITHER_THRESHOLD, 0}

/* Draws the image at `position` with its top-left corner at (x, y) of the
 * canvas, clipped to the canvas.
 *
 * x and y may be negative or past the canvas: only the visible part is
 * written, lines above the canvas are passed over without writing, and
 * lines below it are not read at all. Pixels of images without alpha are
 * copied, as zefdec_line gives them. Pixels with alpha A (as zefdec_line
 * gives it) are blended per 8-bit channel: the source channel is its nibble
 * times 16 (version 4: the entry's 8-bit channel), the canvas channel is
 * widened by repeating its top bits, and
 *     out = (source * A + canvas * (255 - A) + 127) / 255
 * is stored by keeping its top bits; so A = 255 writes the source and
 * A = 0 leaves the pixel as it was.
 *
 * A clip area is a canvas: point `pixels` at the window's top-left pixel
 * of the framebuffer, give the window's width and height and the
 * framebuffer's stride, and place the image relative to the window. Only
 * the window's pixels are written:
 *
 *     zefdec_canvas window = {&framebuffer[20][10], 100, 50,
 *                             sizeof framebuffer[0], ZEFDEC_CANVAS_RGB565};
 *     zefdec_draw(&archive, UI_LOGO, &window, x - 10, y - 20);
 *
 * draws the image whose corner is at framebuffer (x, y), clipped to
 * columns 10..109 and rows 20..69.
 *
 * Bands: an image drawn in horizontal bands of any height, one call per
 * band with the band as canvas or clip area, top to bottom, costs about
 * one draw of it (on the emulated Cortex-M4 at -Os, either build, 10 bands
 * of a 320 x 480 picture: 1.00 to 1.04 x the instructions of one draw, and
 * 1.01 to 1.05 x its callback bytes; 40 bands: 1.00 to 1.22 x), as each
 * call resumes at the line where the archive's last draw of that image
 * stopped. Only the image's record and markers are read again per band.
 * A band above the last one drawn, or after another image was drawn from
 * the same archive, starts from the image's top: it costs passing over
 * every line above the band, checked but not drawn, so that n bands drawn
 * bottom first pass over about n / 2 times the image's lines in all. No
 * line index is kept.
 *
 * ZEFDEC_E_ARGUMENT for a null canvas or pixels or an unknown format,
 * ZEFDEC_E_CANVAS for a stride shorter than a row or pixels or stride not
 * aligned for the format, and what zefdec_begin refuses. A canvas of width or height 0 needs no pixels
 * and gets none. An image whose data fails the decoder's checks (bytes
 * changed after opening) stops the drawing at that line with its error.
 *
 * Behind a callback, a read that fails part-way through ends the draw with
 * ZEFDEC_E_READ at the line it was reading: the image's lines above it are
 * drawn, that line may be drawn in part, and its lines below and every
 * pixel beside the image are left as they were. The archive stays open,
 * and a later draw reads afresh.
 *
 * Cost onto RGB565 (emulated Cortex-M4, -Os, instructions per drawn pixel,
 * not cycles: flash wait states are not modelled; docs/performance.md):
 * with ZEFDEC_FAST, version 4 27 on anti-aliased icons and 13 on
 * pixel-art sprites, version 3 20 and 18, against 46 and 39 for LZ4
 * decompression plus the same blend, and 31 and 14 for the blend from raw
 * RGB565 + A8 planes. Transparent runs cost nothing per pixel, opaque runs
 * are word fills, and only partly transparent pixels are blended. Built
 * by default, run by run through one loop: version 4 91 and 96, version
 * 3 52 and 60. */
int zefdec_draw(const zefdec_archive *archive, uint32_t position, const zefdec_canvas *canvas,
                int32_t x, int32_t y);

/* zefdec_draw with options; NULL options are the defaults, with which it
 * draws exactly what zefdec_draw does. A pixel of alpha A is drawn with
 *     A' = (A * opacity + 127) / 255
 * in place of A, on every canvas, before the blend above (so opacity 255
 * keeps A, and A' 0 leaves the pixel as it was). With `recolour`, its
 * colour is `colour` whatever the image holds: a glyph or icon drawn as a
 * mask of its alpha.
 *
 * On ARGB8888 a pixel of alpha A' over a canvas pixel of alpha C is
 * Porter-Duff "over", each channel of 8 bits:
 *     W = (C * (255 - A') + 127) / 255,  alpha out = A' + W,
 *     out = (source * A' + canvas * W + (A' + W) / 2) / (A' + W)
 * which with C = 255 is the blend above, and with C = 0 is the source.
 * On grey canvases the source is its luma Y, the canvas pixel its 8-bit
 * grey, blended as above; the result chooses the level as zefdec_dither
 * states. */
int zefdec_draw_with(const zefdec_archive *archive, uint32_t position, const zefdec_canvas *canvas,
                     int32_t x, int32_t y, const zefdec_draw_options *options);

/* A short lower-case text for any result of the calls above, or
 * "unknown result". */
const char *zefdec_strerror(int result);

#ifdef __cplusplus
}
#endif

#endif /* ZEFDEC_H */

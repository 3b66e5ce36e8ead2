/*
 * zefdec: .zef archive decoder for firmware. See zefdec.h for the contract.
 *
 * The checks mirror the desktop reader's, so that both accept exactly the
 * same archives: it reads sections in file order and requires every image
 * marker where the previous section ended, so zefdec_open walks the archive
 * in that order once. Afterwards any image can be started directly from its
 * record; line decoding repeats the cheap local checks anyway, so a buffer
 * that changed after opening still cannot lead outside the archive or the
 * caller's line.
 */
#include "zefdec.h"

#include <string.h>

#include "zef_format.h"

#define OPAQUE 255u

/* Image data forms. */
enum { FORM_CODES, FORM_WORDS, FORM_RAW, FORM_OPS };

/* Version 1 archives are accepted only with these header bytes. */
static const uint8_t version1_header[] = {ZEF_VERSION1_HEADER_BYTES};

/* Readers of fields are inlined even when built for size, where a call
 * would cost more bytes than the loads it stands for: where unaligned
 * loads are allowed, a field is one load. */
#if defined(__GNUC__) && (!defined(__arm__) || defined(__ARM_FEATURE_UNALIGNED))
#define FIELD_READER static inline __attribute__((always_inline))
#else
#define FIELD_READER static inline
#endif

/* Pixel conversions and the loops over pixels are inlined where they are
 * used, where a call per pixel would cost as much as the work. */
#if defined(__GNUC__)
#define PIXEL_HELPER static inline __attribute__((always_inline))
#else
#define PIXEL_HELPER static inline
#endif

FIELD_READER uint32_t u16_at(const uint8_t *p) { return (uint32_t)p[0] | (uint32_t)p[1] << 8; }

FIELD_READER uint32_t u32_at(const uint8_t *p)
{
    return u16_at(p) | u16_at(p + 2) << 16;
}

FIELD_READER uint32_t bytes_at(const uint8_t *p, unsigned count)
{
    uint32_t value = 0;
    while (count--)
        value = value << 8 | *p++;
    return value;
}

/* ---- Reading. Every byte the decoder uses comes through fetch (fixed
 * fields: header, records, markers) or through a byte cursor (image data,
 * read forward). In memory both read in place; behind a callback, fetch
 * reads each field by one call into a buffer on the caller's stack, and
 * the cursor reads through the reader's window. ---- */

/* The longest field fetched at once: a header. */
#define FETCH_MAX 24

/* Words for a field of `bytes` read through the callback: the read starts
 * at the word holding its first byte and ends on a word boundary, up to 3
 * bytes either side of it. */
#define ROOM_WORDS(bytes) (((bytes) + 6 + 3) / 4)

#define WORD_MASK ((size_t)3)

static uint8_t *window_of(zefdec_reader *reader) { return (uint8_t *)reader->window; }

/* A refill keeps up to 3 unread bytes of a run and must add the rest. */
typedef char window_holds_runs[ZEFDEC_WINDOW_SIZE >= 16 ? 1 : -1];

struct zefdec_reading;

/* `count` bytes at `at`, or NULL when they do not all lie in the archive
 * (`at` comes from the file and may be anything) or cannot be read.
 * Behind a callback they are read into `room`, or without one into the
 * window, which then holds what follows them too. */
static const uint8_t *fetch(const zefdec_archive *archive, size_t at, size_t count,
                            uint32_t *room);

/* A refused field that could not be read is a read failure, whichever
 * check asked for it. */
static int reading(const zefdec_archive *archive, int rc)
{
    zefdec_reader *reader = archive->reader;

    if (rc < 0 && reader && reader->failed)
        rc = ZEFDEC_E_READ;
    if (reader)
        reader->failed = 0;
    return rc;
}

static int marker_at(const zefdec_archive *archive, size_t pos, uint32_t marker,
                     uint32_t *room)
{
    const uint8_t *p = fetch(archive, pos, ZEF_MARKER_SIZE, room);

    return p && bytes_at(p, ZEF_MARKER_SIZE) == marker;
}

/* Image data read forward. p..end are the bytes at hand; base is the byte
 * at file position base_at. */
typedef struct byte_cursor {
    const uint8_t *p, *end, *base;
    size_t base_at;
    size_t size;                  /* of the archive */
    zefdec_reader *reader;        /* NULL: the whole archive is at hand */
} byte_cursor;

static void bytes_start(byte_cursor *b, const zefdec_archive *archive, size_t pos)
{
    zefdec_reader *reader = archive->reader;

    b->reader = reader;
    b->size = archive->size;
    if (!reader) {
        b->base = archive->data;
        b->base_at = 0;
        b->end = archive->data + archive->size;
    } else {
        /* the window holds bytes of a file position, whoever read them */
        b->base = window_of(reader);
        b->base_at = reader->window_at;
        if (pos < reader->window_at || pos - reader->window_at > reader->window_length) {
            /* nothing at hand: the refill reads from the word that holds pos */
            reader->window_at = pos & ~WORD_MASK;
            reader->window_length = 0;
            b->base_at = pos;
        }
        b->end = b->base + reader->window_length;
    }
    b->p = b->base + (pos - b->base_at);
}

static size_t bytes_position(const byte_cursor *b)
{
    return b->base_at + (size_t)(b->p - b->base);
}

/* What only an archive behind a callback needs, reached through the
 * reader, so that firmware reading from memory links none of it. */
struct zefdec_reading {
    const uint8_t *(*fetch)(const zefdec_archive *archive, size_t at, size_t count, uint32_t *room);
    int (*refill)(byte_cursor *b, size_t needed);
    int (*palette_ready)(const zefdec_layout *layout, zefdec_reader *reader, size_t size);
};

/* Keeps the words that hold the unread bytes, moved to the window's
 * front, and reads as many words as fit behind them. The window's data
 * ends on a word boundary but at the archive's end, so reads start on one. */
static int window_refill(byte_cursor *b, size_t needed)
{
    zefdec_reader *reader = b->reader;
    uint8_t *const window = window_of(reader);
    const size_t at = bytes_position(b), held_end = at + (size_t)(b->end - b->p);
    const size_t start = at & ~WORD_MASK, read_from = held_end & ~WORD_MASK;
    const size_t kept = read_from - start;
    size_t count = b->size - read_from;

    if (count > ZEFDEC_WINDOW_SIZE - kept)
        count = ZEFDEC_WINDOW_SIZE - kept;
    if (held_end == b->size || read_from + count - at < needed)
        return ZEFDEC_E_SHORT;
    {
        /* whole words, forward, to the front: cheaper than a call */
        uint32_t *const to = reader->window;
        const uint32_t *const from = to + (start - reader->window_at) / 4;
        size_t i;
        for (i = 0; i < kept / 4; i++)
            to[i] = from[i];
    }
    reader->window_at = start;
    reader->window_length = kept;
    b->base = window;
    b->base_at = start;
    b->p = window + (at - start);
    b->end = window + kept;
    if (reader->read(reader->user, (uint32_t)read_from, window + kept, (uint32_t)count))
        return ZEFDEC_E_READ;
    reader->window_length = kept + count;
    b->end += count;
    return ZEFDEC_OK;
}

/* Bytes the window holds cost no call. */
static const uint8_t *window_fetch(const zefdec_archive *archive, size_t at, size_t count,
                                   uint32_t *room)
{
    zefdec_reader *reader = archive->reader;
    byte_cursor b;
    size_t from, length;

    if (at >= reader->window_at && at - reader->window_at + count <= reader->window_length)
        return window_of(reader) + (at - reader->window_at);
    if (!room) {
        bytes_start(&b, archive, at);
        if (window_refill(&b, count) == ZEFDEC_OK)
            return b.p;
    } else {
        from = at & ~WORD_MASK;
        length = (at - from + count + WORD_MASK) & ~WORD_MASK;
        if (length > archive->size - from)
            length = archive->size - from;
        if (reader->read(reader->user, (uint32_t)from, room, (uint32_t)length) == 0)
            return (const uint8_t *)room + (at - from);
    }
    reader->failed = 1;
    return 0;
}

static const uint8_t *fetch(const zefdec_archive *archive, size_t at, size_t count,
                            uint32_t *room)
{
    if (at > archive->size || archive->size - at < count)
        return 0;
    if (!archive->reader)
        return archive->data + at;
    return archive->reader->reading->fetch(archive, at, count, room);
}

/* Past the bytes at hand: the end of the archive in memory. */
static int bytes_refill(byte_cursor *b, size_t needed)
{
    return b->reader ? b->reader->reading->refill(b, needed) : ZEFDEC_E_SHORT;
}

/* Behind a callback, the `count` bytes from q read into the window at
 * once, for a literal to be taken whole: ZEFDEC_E_READ for a failed read,
 * which ends what is being done, else ZEFDEC_OK; a short archive is left to
 * the bytes' own reads, which find where it ends. */
#if ZEFDEC_FAST
static int window_hold(byte_cursor *b, const uint8_t *q, size_t count)
{
    b->p = q;
    return bytes_refill(b, count) == ZEFDEC_E_READ ? ZEFDEC_E_READ : ZEFDEC_OK;
}
#endif

/* ZEFDEC_OK once `needed` bytes are at hand (needed <= 4). */

static inline int bytes_need(byte_cursor *b, size_t needed)
{
    return (size_t)(b->end - b->p) >= needed ? ZEFDEC_OK : bytes_refill(b, needed);
}

/* ---- The archive's layout ---- */

/* Version 4 records are laid out as version 2's. */
static size_t image_record_size(const zefdec_archive *archive)
{
    return archive->version == 3 ? ZEF_IMAGE_RECORD_SIZE_V3 : ZEF_IMAGE_RECORD_SIZE_V2;
}

/* The record of the image at `position`; a version 1 header holds width and height with
 * the same spacing as a record does, so it is read as if a record started
 * there. */
static const uint8_t *image_record(const zefdec_archive *archive, uint32_t position,
                                   uint32_t *room)
{
    size_t at = archive->version == 1 ? ZEF_IMAGE_COUNT_AT - ZEF_RECORD_WIDTH_AT
                                      : archive->image_records +
                                            (size_t)position * image_record_size(archive);
    return fetch(archive, at, image_record_size(archive), room);
}

FIELD_READER uint32_t image_data_offset(const zefdec_archive *archive, const uint8_t *record)
{
    return u32_at(record + (archive->version == 3 ? ZEF_RECORD_DATA_OFFSET_AT_V3
                                                  : ZEF_RECORD_DATA_OFFSET_AT_V2));
}

/* Where palette `index`'s colours lie behind their marker, or 0 when they
 * do not lie in the archive. Checked on every use, not only when opening. */
static size_t palette_colours(const zefdec_archive *archive, uint32_t index, uint32_t *entries)
{
    uint32_t room[ROOM_WORDS(ZEF_PALETTE_RECORD_SIZE)];
    const uint8_t *record = fetch(archive,
                                  archive->palette_records + (size_t)index * ZEF_PALETTE_RECORD_SIZE,
                                  ZEF_PALETTE_RECORD_SIZE, room);
    size_t at;

    if (!record)
        return 0;
    at = u32_at(record + ZEF_PALETTE_RECORD_DATA_OFFSET_AT);
    *entries = u32_at(record + ZEF_PALETTE_RECORD_ENTRY_COUNT_AT);
    if (!marker_at(archive, at, ZEF_PALETTE_DATA_MARKER, room) ||
        *entries > (archive->size - at - ZEF_MARKER_SIZE) / ZEF_PALETTE_COLOUR_SIZE)
        return 0;
    return at + ZEF_MARKER_SIZE;
}

/* Version 3 palette block; returns where the last palette's data ends.
 * A trusted archive's palettes are checked when an image uses them. */
static int open_palettes(zefdec_archive *archive, size_t *pos, unsigned flags)
{
    uint32_t room[ROOM_WORDS(ZEF_PALETTE_SPECIFICATIONS_HEAD)];
    const uint8_t *head;
    size_t size = archive->size;
    uint32_t i;

    head = fetch(archive, *pos, ZEF_PALETTE_SPECIFICATIONS_HEAD, room);
    if (!head || bytes_at(head, ZEF_MARKER_SIZE) != ZEF_PALETTE_SPECIFICATIONS_MARKER)
        return ZEFDEC_E_PALETTE;
    archive->palette_count = u32_at(head + ZEF_MARKER_SIZE);
    *pos += ZEF_PALETTE_SPECIFICATIONS_HEAD;
    if (archive->palette_count > (size - *pos) / ZEF_PALETTE_RECORD_SIZE)
        return ZEFDEC_E_PALETTE;
    archive->palette_records = *pos;
    *pos += (size_t)archive->palette_count * ZEF_PALETTE_RECORD_SIZE;
    for (i = 0; !(flags & ZEFDEC_TRUSTED) && i < archive->palette_count; i++) {
        uint32_t entries;
        size_t colours = palette_colours(archive, i, &entries);
        if (!colours)
            return ZEFDEC_E_PALETTE;
        *pos = colours + (size_t)entries * ZEF_PALETTE_COLOUR_SIZE;
    }
    return ZEFDEC_OK;
}

/* Header and tables; leaves *pos where the first image must begin. */
static int open_tables(zefdec_archive *archive, size_t *pos, unsigned flags)
{
    uint32_t room[ROOM_WORDS(FETCH_MAX)];
    const uint8_t *data;
    const uint8_t *header_bytes;
    uint32_t version, count;
    size_t head;
    unsigned i;

    /* the u16 version ends where the count begins */
    data = fetch(archive, 0, ZEF_IMAGE_COUNT_AT, room);
    if (!data || bytes_at(data, ZEF_SIGNATURE_SIZE) != ZEF_FILE_SIGNATURE)
        return ZEFDEC_E_HEADER;
    version = u16_at(data + ZEF_VERSION_AT);
    if (version < ZEF_VERSION_1 || version > ZEF_VERSION_4)
        return ZEFDEC_E_VERSION;
    archive->version = (uint8_t)version;
    /* versions 3 and 4 add the start index */
    head = version == 1   ? ZEF_HEADER_SIZE_V1
           : version == 2 ? ZEF_HEADER_SIZE_V2
                          : ZEF_HEADER_SIZE_V3;
    data = fetch(archive, 0, head, room);
    if (!data || bytes_at(data + head - ZEF_SIGNATURE_SIZE, ZEF_SIGNATURE_SIZE) != ZEF_END_OF_HEADER)
        return ZEFDEC_E_HEADER;
    count = u32_at(data + ZEF_IMAGE_COUNT_AT);
    if (count == 0 || (version == ZEF_VERSION_4 && count > ZEF_MAX_IMAGES_V4))
        return ZEFDEC_E_HEADER;
    header_bytes = data + (version == 1 ? ZEF_V1_HEADER_BYTES_AT : ZEF_HEADER_BYTES_AT);
    /* the alpha bits of a version 3 code: the reader takes any alpha bits
     * byte but 1 as two bits */
    archive->alpha_bits = (uint8_t)(!header_bytes[ZEF_HEADER_ALPHA_MODE]              ? 0
                                    : header_bytes[ZEF_HEADER_ALPHA_BITS] == 1 ? 1
                                                                                : 2);
    archive->alpha_position = header_bytes[ZEF_HEADER_ALPHA_POSITION];
    archive->compressed = header_bytes[ZEF_HEADER_COMPRESSION] != 0;
    *pos = head;
    if (version == 1) {
        if (u32_at(data + ZEF_V1_HEIGHT_AT) == 0)
            return ZEFDEC_E_HEADER;
        for (i = 0; i < ZEF_VERSION1_FIXED_BYTES; i++)
            if (header_bytes[i] != version1_header[i])
                return ZEFDEC_E_HEADER;
        archive->count = 1;
        return ZEFDEC_OK;
    }
    if (version >= ZEF_VERSION_3)
        archive->start_index = u32_at(data + ZEF_START_INDEX_AT);
    if (!marker_at(archive, head, ZEF_IMAGE_SPECIFICATIONS_MARKER, room))
        return ZEFDEC_E_TABLE;
    *pos += ZEF_MARKER_SIZE;
    if (count > (archive->size - *pos) / image_record_size(archive))
        return ZEFDEC_E_TABLE;
    archive->image_records = *pos;
    archive->count = count;
    *pos += (size_t)count * image_record_size(archive);
    return version == 3 ? open_palettes(archive, pos, flags) : ZEFDEC_OK;
}

#if ZEFDEC_FAST
static int skip_ops(zefdec_image *image, uint32_t lines);
static int skip_runs(zefdec_image *image, uint32_t lines);
#else
static int skip_lines(zefdec_image *image, uint32_t lines);
#endif

/* Walks every image in file order, as the desktop reader does. */
static int check_images(zefdec_archive *archive, size_t pos)
{
    uint32_t room[ROOM_WORDS(ZEF_IMAGE_RECORD_SIZE_V3)];
    uint32_t i;
    int rc = ZEFDEC_OK;

    for (i = 0; rc == ZEFDEC_OK && i < archive->count; i++) {
        zefdec_image image;
        const uint8_t *record;
        if (archive->version != 1) {
            record = image_record(archive, i, room);
            if (!record)
                return ZEFDEC_E_TABLE;
            if (image_data_offset(archive, record) != pos)
                return ZEFDEC_E_MARKER;
        }
        rc = zefdec_begin(&image, archive, i, ZEFDEC_RGB565);
        if (rc != ZEFDEC_OK)
            break;
        /* begin has checked that the whole raw image is there */
        if (image.layout.form == FORM_RAW)
            image.next += (size_t)image.width * image.height * ZEF_COLOUR_WORD_SIZE;
#if ZEFDEC_FAST
        else if (image.layout.form == FORM_OPS)
            rc = skip_ops(&image, image.height);
        else
            rc = skip_runs(&image, image.height);
#else
        else
            rc = skip_lines(&image, image.height);
#endif
        pos = image.next;
    }
    return rc;
}

static int open_archive(zefdec_archive *archive, unsigned flags)
{
    size_t pos;
    int rc;

    archive->count = 0;
    archive->start_index = 0;
    archive->palette_count = 0;
    archive->image_records = 0;
    archive->palette_records = 0;
    archive->drawn_line = 0;
    rc = open_tables(archive, &pos, flags);
    if (rc == ZEFDEC_OK && !(flags & ZEFDEC_TRUSTED))
        rc = check_images(archive, pos);
    rc = reading(archive, rc);
    if (rc != ZEFDEC_OK)
        archive->count = 0;
    return rc;
}

int zefdec_open_with(zefdec_archive *archive, const void *data, size_t size, unsigned flags)
{
    if (!archive || !data)
        return ZEFDEC_E_ARGUMENT;
    archive->data = (const uint8_t *)data;
    archive->reader = 0;
    archive->size = size;
    return open_archive(archive, flags);
}

int zefdec_open(zefdec_archive *archive, const void *data, size_t size)
{
    return zefdec_open_with(archive, data, size, 0);
}

static int palette_ready(const zefdec_layout *layout, zefdec_reader *reader, size_t size);

int zefdec_open_reader_window(zefdec_archive *archive, zefdec_reader *reader, zefdec_read_fn read,
                              void *user, size_t size, unsigned flags, size_t window_size)
{
    static const struct zefdec_reading reading = {window_fetch, window_refill, palette_ready};

    /* a reader of another window has another size: nothing of it is touched */
    if (archive)
        archive->count = 0;
    if (!archive || !reader || !read || window_size != ZEFDEC_WINDOW_SIZE)
        return ZEFDEC_E_ARGUMENT;
    /* offsets in the archive are 32-bit: larger files cannot be archives */
    if (size > 0xFFFFFFFFu)
        size = 0xFFFFFFFFu;
    reader->read = read;
    reader->user = user;
    reader->reading = &reading;
    reader->window_at = 0;
    reader->window_length = 0;
    reader->palette_at = 0;
    reader->failed = 0;
    archive->data = 0;
    archive->reader = reader;
    archive->size = size;
    return open_archive(archive, flags);
}

uint32_t zefdec_count(const zefdec_archive *archive)
{
    return archive ? archive->count : 0;
}

/* Whether the archive is open and has an image at `position`. */
static int image_at(const zefdec_archive *archive, uint32_t position)
{
    if (!archive)
        return ZEFDEC_E_ARGUMENT;
    if (position < archive->count)
        return ZEFDEC_OK;
    return archive->count ? ZEFDEC_E_POSITION : ZEFDEC_E_NOT_OPEN;
}

int zefdec_info(const zefdec_archive *archive, uint32_t position, zefdec_image_info *info)
{
    uint32_t room[ROOM_WORDS(ZEF_IMAGE_RECORD_SIZE_V3)];
    const uint8_t *record;
    int rc = image_at(archive, position);

    if (rc != ZEFDEC_OK || !info)
        return rc ? rc : ZEFDEC_E_ARGUMENT;
    record = image_record(archive, position, room);
    if (!record)
        return reading(archive, ZEFDEC_E_TABLE);
    info->width = u32_at(record + ZEF_RECORD_WIDTH_AT);
    info->height = u32_at(record + ZEF_RECORD_HEIGHT_AT);
    info->number = archive->start_index + position;
    info->alpha_bits = archive->version == 3 ? archive->alpha_bits : archive->version == 4 ? 8 : 4;
    return ZEFDEC_OK;
}

/* ---- The archive id (docs/format.md): a CRC-32 of the image count, the
 * start index and each image's width, height and alpha bits, read from the
 * tables alone. Bit by bit, as a table would cost 1 KB of flash. ---- */

static uint32_t archive_id_add(uint32_t crc, uint32_t value, unsigned bits)
{
    while (bits--) {
        crc = ((crc ^ value) & 1u) ? crc >> 1 ^ ZEF_ARCHIVE_ID_POLYNOMIAL : crc >> 1;
        value >>= 1;
    }
    return crc;
}

uint32_t zefdec_archive_id(const zefdec_archive *archive)
{
    zefdec_image_info info;
    uint32_t crc, i, count = zefdec_count(archive);

    if (!count)
        return 0;
    crc = archive_id_add(archive_id_add(ZEF_ARCHIVE_ID_SEED, count, 32), archive->start_index, 32);
    for (i = 0; i < count; i++) {
        if (zefdec_info(archive, i, &info) != ZEFDEC_OK)
            return 0;
        crc = archive_id_add(archive_id_add(archive_id_add(crc, info.width, 32), info.height, 32),
                             info.alpha_bits, 8);
    }
    return ~crc;
}

/* Alpha codes of `bits` bits (0: none) become 0..255 by repeating them. */
static void set_alpha_layout(zefdec_layout *layout, unsigned shift, unsigned bits)
{
    unsigned mask = (1u << bits) - 1;
    unsigned scale = mask ? OPAQUE / mask : 0;

    layout->alpha_shift = (uint8_t)shift;
    layout->alpha_mask = (uint8_t)mask;
    layout->alpha_scale = (uint8_t)scale;
    layout->alpha_opaque = (uint8_t)(OPAQUE - mask * scale);
}

static void set_code_layout(zefdec_layout *layout, const zefdec_archive *archive)
{
    unsigned bits = archive->alpha_bits;
    int low = archive->alpha_position == ZEF_ALPHA_POSITION_LOW;

    layout->form = FORM_CODES;
    layout->run_size = ZEF_PIXEL_CODE_RUN_SIZE;
    layout->index_shift = (uint8_t)(low ? bits : 0);
    layout->index_mask = (uint8_t)(low ? 0xFFu : 0xFFu >> bits);
    set_alpha_layout(layout, low ? 0 : ZEF_PIXEL_CODE_BITS - bits, bits);
}

static void set_word_layout(zefdec_layout *layout, const zefdec_archive *archive)
{
    int low = archive->alpha_position == ZEF_ALPHA_POSITION_LOW;

    layout->form = archive->compressed ? FORM_WORDS : FORM_RAW;
    layout->run_size = archive->compressed ? ZEF_COLOUR_WORD_RUN_SIZE : ZEF_COLOUR_WORD_SIZE;
    set_alpha_layout(layout, low ? 0 : ZEF_WORD_ALPHA_SHIFT_HIGH, ZEF_WORD_ALPHA_BITS);
}

/* A version 4 image block after its marker: index bits, last entry, the
 * entries, then the lines' ops. */
static int set_entry_layout(zefdec_image *image, const zefdec_archive *archive, size_t at,
                            const uint8_t *head)
{
    uint32_t room[ROOM_WORDS(ZEF_V4_IMAGE_HEAD)];
    zefdec_layout *layout = &image->layout;
    uint32_t bits, entries;

    /* the head, unless the caller has read it with the marker */
    if (!head)
        head = fetch(archive, at, ZEF_V4_IMAGE_HEAD, room);
    if (!head)
        return ZEFDEC_E_SHORT;
    bits = head[0];
    entries = (uint32_t)head[1] + 1;
    if (bits < 1 || bits > ZEF_V4_MAX_INDEX_BITS || entries > 1u << bits)
        return ZEFDEC_E_PALETTE;
    /* widths above 65534 are refused by the reader of version 4 */
    if (image->width > ZEF_MAX_IMAGE_WIDTH)
        return ZEFDEC_E_TABLE;
    at += ZEF_V4_IMAGE_HEAD;
    if (entries > (archive->size - at) / ZEF_V4_ENTRY_SIZE)
        return ZEFDEC_E_SHORT;
    layout->form = FORM_OPS;
    layout->index_shift = (uint8_t)bits;
    layout->index_mask = (uint8_t)((1u << bits) - 1);
    layout->palette_size = entries;
    layout->palette_at = (uint32_t)at;
    /* every entry carries alpha: nothing is drawn as if opaque by default */
    layout->alpha_mask = 0xFF;
    layout->run_size = 1;
    image->next = at + (size_t)entries * ZEF_V4_ENTRY_SIZE;
    return ZEFDEC_OK;
}

static int begin_image(zefdec_image *image, const zefdec_archive *archive, uint32_t position)
{
    uint32_t room[ROOM_WORDS(ZEF_IMAGE_RECORD_SIZE_V3)];
    const uint8_t *record = image_record(archive, position, room);
    zefdec_layout *layout = &image->layout;
    size_t at = ZEF_HEADER_SIZE_V1;
    byte_cursor bytes;
    int rc;

    if (!record)
        return ZEFDEC_E_TABLE;
    image->width = u32_at(record + ZEF_RECORD_WIDTH_AT);
    image->height = u32_at(record + ZEF_RECORD_HEIGHT_AT);
    /* an image without pixels is a damaged record, as the reader sees it */
    if (image->width == 0 || image->height == 0)
        return ZEFDEC_E_TABLE;
    layout->colour_shift =
        (uint8_t)(archive->alpha_position == ZEF_ALPHA_POSITION_LOW ? ZEF_WORD_ALPHA_BITS : 0);
    if (archive->version != 1) {
        uint32_t palette = u16_at(record + ZEF_RECORD_PALETTE_INDEX_AT_V3);
        at = image_data_offset(archive, record);
#if ZEFDEC_FAST
        if (archive->version == ZEF_VERSION_4 && archive->reader && at <= archive->size &&
            archive->size - at >= ZEF_MARKER_SIZE + ZEF_V4_IMAGE_HEAD) {
            /* marker and head in one small read: the palette, read apart,
             * stands between them and the ops, so the window gains nothing */
            const uint8_t *p = fetch(archive, at, ZEF_MARKER_SIZE + ZEF_V4_IMAGE_HEAD, room);
            if (!p)
                return ZEFDEC_E_READ;
            if (bytes_at(p, ZEF_MARKER_SIZE) != ZEF_IMAGE_MARKER)
                return ZEFDEC_E_MARKER;
            return set_entry_layout(image, archive, at + ZEF_MARKER_SIZE, p + ZEF_MARKER_SIZE);
        }
#endif
        /* into the window, with the image's first bytes */
        if (!marker_at(archive, at, ZEF_IMAGE_MARKER, 0))
            return ZEFDEC_E_MARKER;
        at += ZEF_MARKER_SIZE;
        if (archive->version == 3) {
            if (palette >= archive->palette_count)
                return ZEFDEC_E_TABLE;
            layout->palette_at = (uint32_t)palette_colours(archive, palette, &layout->palette_size);
            if (!layout->palette_at)
                return ZEFDEC_E_PALETTE;
        }
    }
    if (archive->version == ZEF_VERSION_4)
        return set_entry_layout(image, archive, at, 0);
    image->next = at;
    if (archive->version == 3)
        set_code_layout(layout, archive);
    else
        set_word_layout(layout, archive);

    if (layout->form == FORM_RAW) {
        /* raw data has no counts: all there is to check is that it is there */
        size_t words = (archive->size - at) / ZEF_COLOUR_WORD_SIZE;
        if (image->height > words / image->width)
            return ZEFDEC_E_SHORT;
        return ZEFDEC_OK;
    }
    bytes_start(&bytes, archive, at);
    rc = bytes_need(&bytes, ZEF_IMAGE_ENTRY_COUNT_SIZE);
    if (rc != ZEFDEC_OK)
        return rc;
    image->runs_left = u32_at(bytes.p);
    image->next += ZEF_IMAGE_ENTRY_COUNT_SIZE;
    return ZEFDEC_OK;
}

int zefdec_begin(zefdec_image *image, const zefdec_archive *archive, uint32_t position,
                 zefdec_format format)
{
    int rc;

    if (!image)
        return ZEFDEC_E_ARGUMENT;
    rc = image_at(archive, position);
    if (rc == ZEFDEC_OK && (unsigned)format > ZEFDEC_BGR888)
        rc = ZEFDEC_E_ARGUMENT;
    image->error = (int8_t)rc;
    if (rc != ZEFDEC_OK)
        return rc;
    image->archive = archive;
    image->format = (uint8_t)format;
    image->y = 0;
    image->x = 0;
    image->in_line = 0;
    image->literal_left = 0;
    image->literal_phase = 0;
    image->layout.palette_at = 0;
    rc = reading(archive, begin_image(image, archive, position));
    /* a palette is read in place, or into the reader when a line needs it */
    image->layout.palette = archive->reader ? (const uint8_t *)archive->reader->palette +
                                                  (image->layout.palette_at & WORD_MASK)
                                            : archive->data + image->layout.palette_at;
    image->error = (int8_t)rc;
    return rc;
}

static int open_line(zefdec_image *image)
{
    byte_cursor bytes;
    int rc;

    image->x = 0;
    image->in_line = 1;
    /* raw pixels and version 4 ops have no counts */
    if (image->layout.form >= FORM_RAW)
        return ZEFDEC_OK;
    bytes_start(&bytes, image->archive, image->next);
    rc = bytes_need(&bytes, ZEF_LINE_ENTRY_COUNT_SIZE);
    if (rc != ZEFDEC_OK)
        return rc;
    image->line_runs_left = (uint16_t)u16_at(bytes.p);
    image->next += ZEF_LINE_ENTRY_COUNT_SIZE;
    return ZEFDEC_OK;
}

static int close_line(zefdec_image *image)
{
    image->in_line = 0;
    image->y++;
    if (image->layout.form >= FORM_RAW)
        return ZEFDEC_OK;
    if (image->line_runs_left != 0)
        return ZEFDEC_E_LINE_COUNT;
    if (image->y == image->height && image->runs_left != 0)
        return ZEFDEC_E_IMAGE_COUNT;
    return ZEFDEC_OK;
}

/* A version 4 op's pixels: a literal's count, or a run's length. */
FIELD_READER uint32_t op_length(uint32_t op)
{
    return (op & (op < ZEF_V4_OP_RUN ? 0x7Fu : ZEF_V4_RUN_LENGTH_MASK)) + 1;
}

/* A version 4 entry's colour, 0xRRGGBB. */
FIELD_READER uint32_t entry_rgb(const uint8_t *entry)
{
    return (uint32_t)entry[0] << 16 | (uint32_t)entry[1] << 8 | entry[2];
}

/* One run as read from the data. */
typedef struct run {
    uint32_t x;                   /* where it starts in its line */
    uint32_t length;
    uint32_t rgb;                 /* 0xRRGGBB */
    uint32_t alpha;               /* 0 to 255 */
} run;

/* Nibble n stands for n * 16. */
static inline uint32_t rgb_of(uint32_t colour)
{
    return (colour & 0xF00) << 12 | (colour & 0x0F0) << 8 | (colour & 0x00F) << 4;
}

/* Reads the run at p, which has its run_size bytes, into a line with
 * `room` pixels left. Colour and alpha are worked out only when
 * `wanted`: opening the archive only needs the checks. Kept inline so
 * that the line loop holds everything in registers. */
static inline int read_run(const zefdec_layout *layout, const uint8_t *p, uint32_t room,
                           run *out, int wanted)
{
    uint32_t stored, value;

    if (layout->form == FORM_CODES) {
        stored = p[0];
        out->length = p[1];
    } else {
        stored = u16_at(p);
        out->length = layout->form == FORM_RAW ? 1 : p[2];
    }
    if (out->length > room)
        return ZEFDEC_E_RUN;
    value = stored;
    if (layout->form == FORM_CODES) {
        uint32_t index = (stored >> layout->index_shift) & layout->index_mask;
        if (index >= layout->palette_size)
            return ZEFDEC_E_COLOUR;
        if (wanted)
            value = u16_at(layout->palette + index * ZEF_PALETTE_COLOUR_SIZE);
    }
    if (!wanted)
        return ZEFDEC_OK;
    out->alpha = ((stored >> layout->alpha_shift) & layout->alpha_mask) * layout->alpha_scale +
                 layout->alpha_opaque;
    out->rgb = rgb_of((value >> layout->colour_shift) & ZEF_COLOUR_MASK);
    /* the reader blacks out raw pixels that are fully transparent */
    if (layout->form == FORM_RAW && out->alpha == 0)
        out->rgb = 0;
    return ZEFDEC_OK;
}

/* A run loop's place in the open line. Loops keep it in a local, not in the
 * image: stores into the caller's bytes could alias the image's fields and
 * would force them to be read again per run. The layout is a copy whose
 * form the loop fixes, so that a build for speed makes a loop per form. */
typedef struct line_cursor {
    zefdec_layout layout;
    byte_cursor bytes;
    uint32_t width, x, runs;
    uint32_t literal_left, literal_phase; /* version 4: as in zefdec_image */
} line_cursor;

/* A reader holds one palette, which another image may have replaced. It
 * is read in whole words, from the one that holds its first byte, as the
 * layout's palette pointer expects. */
static int palette_ready(const zefdec_layout *layout, zefdec_reader *reader, size_t size)
{
    const uint32_t from = layout->palette_at & ~(uint32_t)WORD_MASK;
    uint32_t entries = layout->palette_size, length;

    if (reader->palette_at == layout->palette_at)
        return ZEFDEC_OK;
    /* indices above the mask cannot occur */
    if (entries > (uint32_t)layout->index_mask + 1)
        entries = (uint32_t)layout->index_mask + 1;
    length = (layout->palette_at - from +
              entries * (layout->form == FORM_OPS ? ZEF_V4_ENTRY_SIZE : ZEF_PALETTE_COLOUR_SIZE) +
              (uint32_t)WORD_MASK) & ~(uint32_t)WORD_MASK;
    if (length > size - from)
        length = (uint32_t)(size - from);
    reader->palette_at = 0;
    if (entries && reader->read(reader->user, from, reader->palette, length))
        return ZEFDEC_E_READ;
    reader->palette_at = layout->palette_at;
    return ZEFDEC_OK;
}

static inline int cursor_start(line_cursor *c, const zefdec_image *image, unsigned form)
{
    c->layout = image->layout;
#if !ZEFDEC_LINE_LOOPS
    /* with one loop, every caller runs the image's own form */
    (void)form;
#else
    c->layout.form = (uint8_t)form;
#endif
    bytes_start(&c->bytes, image->archive, image->next);
    c->width = image->width;
    c->x = image->x;
    c->runs = 0;
    c->literal_left = image->literal_left;
    c->literal_phase = image->literal_phase;
    if ((c->layout.form == FORM_CODES || c->layout.form == FORM_OPS) && c->bytes.reader)
        return c->bytes.reader->reading->palette_ready(&c->layout, c->bytes.reader, c->bytes.size);
    return ZEFDEC_OK;
}

/* Version 4: the next op's run, or the next pixel of a literal, whose
 * indices are read as they come, so that a literal longer than the
 * reader's window streams through it. Sets the run's length, colour and
 * alpha; cursor_next places it. */
static inline int op_next(line_cursor *c, run *r, int wanted)
{
    uint32_t index = 0, length = 1, bits = c->layout.index_shift;
    int rc;

    if (!c->literal_left) {
        uint32_t op;
        rc = bytes_need(&c->bytes, 1);
        if (rc != ZEFDEC_OK)
            return rc;
        op = *c->bytes.p++;
        length = op_length(op);
        if (length > c->width - c->x)
            return ZEFDEC_E_RUN;
        /* a run's index is read as a literal's, one byte wide */
        if (op < ZEF_V4_OP_RUN) {
            c->literal_left = length;
            length = 1;
        } else
            bits = op < ZEF_V4_OP_RUN_ZERO ? 8 : 0;
    }
    if (bits) {
        /* an index spans at most two bytes: bits <= 8, phase <= 7 */
        const uint32_t end = c->literal_phase + bits;
        uint32_t word;
        rc = bytes_need(&c->bytes, end > 8 ? 2 : 1);
        if (rc != ZEFDEC_OK)
            return rc;
        word = (uint32_t)c->bytes.p[0] << 8 | (end > 8 ? c->bytes.p[1] : 0);
        index = word >> (16 - end) & ((1u << bits) - 1);
        c->bytes.p += end >> 3;
        c->literal_phase = end & 7;
    }
    /* the padding bits of a literal's last byte are passed over */
    if (c->literal_left && --c->literal_left == 0 && c->literal_phase) {
        c->bytes.p++;
        c->literal_phase = 0;
    }
    if (index >= c->layout.palette_size)
        return ZEFDEC_E_COLOUR;
    r->length = length;
    if (wanted) {
        const uint8_t *entry = c->layout.palette + index * ZEF_V4_ENTRY_SIZE;
        r->rgb = entry_rgb(entry);
        r->alpha = entry[3];
    }
    return ZEFDEC_OK;
}

/* Takes the line's next run into *r: ZEFDEC_OK, ZEFDEC_END at the line's
 * end, or the run's fault. */
static inline int cursor_next(line_cursor *c, run *r, int wanted)
{
    int rc;

    if (c->x >= c->width)
        return ZEFDEC_END;
    if (c->layout.form == FORM_OPS)
        rc = op_next(c, r, wanted);
    else {
        rc = bytes_need(&c->bytes, c->layout.run_size);
        if (rc == ZEFDEC_OK)
            rc = read_run(&c->layout, c->bytes.p, c->width - c->x, r, wanted);
        if (rc == ZEFDEC_OK)
            c->bytes.p += c->layout.run_size;
    }
    /* version 4 counts runs too, though it has no counts to check them against */
    if (rc == ZEFDEC_OK) {
        c->runs++;
        r->x = c->x;
        c->x += r->length;
    }
    return rc;
}

/* Hands the loop's progress back to the image; the line's end is no fault. */
static inline int cursor_stop(zefdec_image *image, const line_cursor *c, int rc)
{
    image->next = bytes_position(&c->bytes);
    image->x = c->x;
    image->literal_left = (uint8_t)c->literal_left;
    image->literal_phase = (uint8_t)c->literal_phase;
    image->line_runs_left = (uint16_t)(image->line_runs_left - c->runs);
    image->runs_left -= c->runs;
    return rc == ZEFDEC_END ? ZEFDEC_OK : rc;
}

/* The stored nibbles of a colour: the top four bits of each channel. */
static inline uint32_t nibbles_of(uint32_t rgb)
{
    return (rgb >> 12 & 0xF00) | (rgb >> 8 & 0x0F0) | (rgb >> 4 & 0x00F);
}

/* Formats keep the top bits of each 8-bit channel. */
static inline uint32_t pixel_of(unsigned format, uint32_t rgb, uint32_t alpha)
{
    if (format == ZEFDEC_RGB565)
        return (rgb >> 8 & 0xF800) | (rgb >> 5 & 0x07E0) | (rgb >> 3 & 0x001F);
    if (format == ZEFDEC_ARGB4444)
        return (alpha >> 4) << 12 | nibbles_of(rgb);
    return rgb;
}

#if !ZEFDEC_LINE_LOOPS
static void fill_bgr888(uint8_t *out, uint32_t pixel, uint32_t count, const uint8_t *line_end)
{
    (void)line_end;
    for (; count; count--, out += 3) {
        out[0] = (uint8_t)pixel;
        out[1] = (uint8_t)(pixel >> 8);
        out[2] = (uint8_t)(pixel >> 16);
    }
}

static void fill_16(uint16_t *out, uint32_t pixel, uint32_t count, const uint16_t *line_end)
{
    (void)line_end;
    while (count--)
        *out++ = (uint16_t)pixel;
}
#else
/* Runs go out in 8-byte stores of the repeated pixel, built in registers:
 * a pattern built in memory and loaded wider than it was stored would wait
 * for its stores on every run. The last store may reach past the run onto
 * pixels that later runs of the line overwrite, but never past the line. */
#define PATTERN_STEP 24           /* three words: eight BGR888 pixels */

static inline void store_word(uint8_t *at, uint64_t word) { memcpy(at, &word, sizeof word); }

static inline void fill_bgr888(uint8_t *out, uint32_t pixel, uint32_t count, const uint8_t *line_end)
{
    const uint64_t one = pixel;
    /* b g r b g r b g | r b g r b g r b | g r b g r b g r */
    const uint64_t first = one | one << 24 | one << 48;
    const uint64_t second = one >> 16 | one << 8 | one << 32 | one << 56;
    const uint64_t third = one >> 8 | one << 16 | one << 40;
    const size_t bytes = (size_t)count * 3;
    size_t done = 0;

    if ((size_t)(line_end - out) >= bytes + PATTERN_STEP) {
        for (; done < bytes; done += PATTERN_STEP) {
            store_word(out + done, first);
            store_word(out + done + 8, second);
            store_word(out + done + 16, third);
        }
        return;
    }
    /* near the line's end: whole steps, then pixel by pixel */
    for (; bytes - done >= PATTERN_STEP; done += PATTERN_STEP) {
        store_word(out + done, first);
        store_word(out + done + 8, second);
        store_word(out + done + 16, third);
    }
    for (out += done; done < bytes; done += 3, out += 3) {
        out[0] = (uint8_t)pixel;
        out[1] = (uint8_t)(pixel >> 8);
        out[2] = (uint8_t)(pixel >> 16);
    }
}

/* The same for 16-bit pixels: four to a word. */
static inline void fill_16(uint16_t *out, uint32_t pixel, uint32_t count, const uint16_t *line_end)
{
    const uint64_t word = (uint64_t)(pixel & 0xFFFFu) * 0x0001000100010001u;
    const size_t room = (size_t)(line_end - out);
    uint32_t done = 0;

    if (room >= (size_t)count + 4) {
        for (; done < count; done += 4)
            store_word((uint8_t *)(out + done), word);
        return;
    }
    for (; count - done >= 4; done += 4)
        store_word((uint8_t *)(out + done), word);
    for (; done < count; done++)
        out[done] = (uint16_t)pixel;
}
#endif

/* Only the checks: what opening the archive and skipping a line need. */
#define CHECKS_ONLY 3u

/* The run loops are written once and specialised by the constants they are
 * called with, which a build for speed gets only where they are inlined:
 * GCC and Clang are told to, whatever their estimate of the loop's size. */
#if defined(__GNUC__) && ZEFDEC_LINE_LOOPS
#define RUN_LOOP static inline __attribute__((always_inline))
#else
#define RUN_LOOP static inline
#endif

/* Decodes the runs of the open line into the buffers given. Inline, so
 * that a compiler optimising for speed makes one loop per constant format. */
RUN_LOOP int decode_runs(zefdec_image *image, void *line, uint8_t *alpha,
                        const unsigned format, const unsigned form)
{
    line_cursor c;
    run r;
    int rc;

    rc = cursor_start(&c, image, form);
    while (rc == ZEFDEC_OK && (rc = cursor_next(&c, &r, format != CHECKS_ONLY)) == ZEFDEC_OK) {
        uint32_t n, pixel;
        if (format == CHECKS_ONLY)
            continue;
        pixel = pixel_of(format, r.rgb, r.alpha);
        /* the line may be NULL when only alpha is wanted */
        if (line && format == ZEFDEC_BGR888)
            fill_bgr888((uint8_t *)line + (size_t)r.x * 3, pixel, r.length,
                        (uint8_t *)line + (size_t)c.width * 3);
        else if (line)
            fill_16((uint16_t *)line + r.x, pixel, r.length, (uint16_t *)line + c.width);
        if (alpha)
            for (n = 0; n < r.length; n++)
                alpha[r.x + n] = (uint8_t)r.alpha;
    }
    return cursor_stop(image, &c, rc);
}

#if ZEFDEC_FAST || ZEFDEC_LINE_LOOPS
#if defined(__GNUC__)
#define LINE_LOOP static __attribute__((noinline))
#else
#define LINE_LOOP static
#endif

/* The pixels that `runs` runs at hand (versions 1 to 3) cover, and the
 * largest palette index of their codes in *largest: one loop over all of
 * them, which lets a compiler sum many lengths per instruction, apart
 * from its callers' loops, which would keep the layout on the stack. */
LINE_LOOP uint32_t runs_sum(const uint8_t *p, uint32_t runs, const zefdec_layout *layout, uint32_t *largest)
{
    const uint32_t shift = layout->index_shift, mask = layout->index_mask;
    uint32_t sum = 0, most = 0;
    const uint8_t *end;

    if (layout->form == FORM_CODES)
        for (end = p + (size_t)runs * ZEF_PIXEL_CODE_RUN_SIZE; p != end; p += ZEF_PIXEL_CODE_RUN_SIZE) {
            const uint32_t index = (uint32_t)p[0] >> shift & mask;
            sum += p[1];
            most = index > most ? index : most;
        }
    else
        for (end = p + (size_t)runs * ZEF_COLOUR_WORD_RUN_SIZE; p != end; p += ZEF_COLOUR_WORD_RUN_SIZE)
            sum += p[ZEF_COLOUR_WORD_SIZE];
    *largest = most;
    return sum;
}
#endif

#if ZEFDEC_LINE_LOOPS
/* A line whose counted runs end exactly at its width, the last one not
 * empty and every palette index inside the palette, is what the run by run
 * checks would accept, and taking all its runs at once lets the compiler
 * sum many lengths per instruction. Any other line is left to those checks,
 * which find the fault. */
static int line_checks_at_once(zefdec_image *image)
{
    const uint32_t runs = image->line_runs_left, size = image->layout.run_size;
    uint32_t length, largest;
    byte_cursor bytes;
    const uint8_t *p;

    /* raw lines have no runs to count; a line not all at hand is taken run by run */
    bytes_start(&bytes, image->archive, image->next);
    p = bytes.p;
    if (image->layout.form >= FORM_RAW || runs == 0 || (size_t)(bytes.end - p) / size < runs ||
        p[runs * size - 1] == 0)
        return 0;
    length = runs_sum(p, runs, &image->layout, &largest);
    if (length != image->width || (image->layout.form == FORM_CODES && largest >= image->layout.palette_size))
        return 0;
    image->next += runs * size;
    image->x = length;
    image->line_runs_left = 0;
    image->runs_left -= runs;
    return 1;
}
#endif

#if ZEFDEC_FAST
/* Passes over `lines` lines of a run-length image (versions 1 to 3) from
 * the start of its next line, with the checks and results of zefdec_line
 * line by line, in one loop over its line counts and runs with the bytes
 * at hand in locals: opening passes over a whole image in one call. */
static int skip_runs(zefdec_image *image, uint32_t lines)
{
    const zefdec_layout *layout = &image->layout;
    const uint32_t width = image->width, height = image->height, size = layout->run_size;
    const int codes = layout->form == FORM_CODES;
    uint32_t x = 0, y = image->y, line_runs = 0, runs_left = image->runs_left;
    const uint32_t stop = y + lines;
    int in_line = 0, rc = ZEFDEC_OK;
    byte_cursor b;
    const uint8_t *p, *end;

    bytes_start(&b, image->archive, image->next);
    p = b.p;
    end = b.end;
    while (y < stop) {
        const size_t need = in_line ? size : ZEF_LINE_ENTRY_COUNT_SIZE;
        uint32_t length;
        if ((size_t)(end - p) < need) {
            b.p = p;
            if ((rc = bytes_refill(&b, need)) != ZEFDEC_OK)
                break;
            p = b.p;
            end = b.end;
        }
        if (!in_line) {
            line_runs = u16_at(p);
            p += ZEF_LINE_ENTRY_COUNT_SIZE;
            in_line = 1;
            x = 0;
            /* A line at hand whose runs end exactly at its width, the last
             * one not empty and every index inside the palette, is what
             * the run by run checks below accept: its runs are summed in
             * one loop. Any other line is left to those checks. */
            if (line_runs && (size_t)(end - p) >= line_runs * size && p[line_runs * size - 1]) {
                uint32_t largest;
                if (runs_sum(p, line_runs, layout, &largest) == width && (!codes || largest < layout->palette_size)) {
                    p += line_runs * size;
                    runs_left -= line_runs;
                    in_line = 0;
                    if (++y == height && runs_left != 0)
                        rc = ZEFDEC_E_IMAGE_COUNT;
                }
            }
            continue;
        }
        length = p[size - 1];
        if (length > width - x) {
            rc = ZEFDEC_E_RUN;
            break;
        }
        if (codes && ((uint32_t)p[0] >> layout->index_shift & layout->index_mask) >= layout->palette_size) {
            rc = ZEFDEC_E_COLOUR;
            break;
        }
        p += size;
        x += length;
        line_runs--;
        runs_left--;
        if (x < width)
            continue;
        /* the line's end, where zefdec_line checks its counts */
        in_line = 0;
        y++;
        if ((uint16_t)line_runs != 0) {
            rc = ZEFDEC_E_LINE_COUNT;
            break;
        }
        if (y == height && runs_left != 0)
            rc = ZEFDEC_E_IMAGE_COUNT;
    }
    b.p = p;
    image->next = bytes_position(&b);
    image->y = y;
    image->runs_left = runs_left;
    return rc;
}

/* ---- Version 4 literals at hand: each index is found at its own bit,
 * so that no bit buffer is carried from index to index. A literal read
 * this way needs 3 bytes after it. ---- */

/* The 32 bits from bit `bit` of q on, big-endian: one load and a byte
 * swap on a core that reads unaligned words. */
PIXEL_HELPER uint32_t bits_at(const uint8_t *q, uint32_t bit)
{
    const uint8_t *p = q + (bit >> 3);

    return ((uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3]) << (bit & 7);
}

PIXEL_HELPER uint32_t index_at(const uint8_t *q, uint32_t bit, uint32_t bits)
{
    return bits_at(q, bit) >> (32 - bits);
}

/* Checking that indices of `bits` bits are below `entries` several at a
 * time: shifted down by one, a word holds `fields` of them under 25 bits;
 * adding 2^bits - entries to every other one carries into the bit above it
 * exactly when it is too large, and the bit above an even field is the
 * masked-off odd field beside it, so no carry reaches another field. The
 * odd fields are checked in the same way once shifted onto the even ones.
 * Whether the literal's n indices at q all name an entry; the words are
 * made here, so that a constant width makes constants of all but `add`. */
PIXEL_HELPER int indices_fit(const uint8_t *q, uint32_t n, uint32_t bits, uint32_t entries)
{
    const uint32_t fields = 24 / bits & ~1u;
    uint32_t mask = 0, add = 0, carry = 0, j, k = 0, bit = 0;

    for (j = 0; j < fields; j += 2) {
        const uint32_t low = 31 - (j + 1) * bits;
        mask |= ((1u << bits) - 1) << low;
        add |= ((1u << bits) - entries) << low;
        carry |= 1u << (low + bits);
    }
    for (; n - k >= fields; k += fields, bit += fields * bits) {
        const uint32_t even = bits_at(q, bit) >> 1, odd = even << bits;
        if ((((even & mask) + add) | ((odd & mask) + add)) & carry)
            return 0;
    }
    for (; k < n; k++, bit += bits)
        if (index_at(q, bit, bits) >= entries)
            return 0;
    return 1;
}

/* A literal's indices checked apart from the op loop, which would keep
 * the check's words on the stack, the common widths as constants. */
LINE_LOOP int literal_fits(const uint8_t *q, uint32_t n, uint32_t bits, uint32_t entries)
{
    /* in two halves, which no compiler makes a jump table: Thumb-1 would
     * call a library helper for it */
    if (bits <= 6) {
        if (bits == 6)
            return indices_fit(q, n, 6, entries);
        if (bits == 5)
            return indices_fit(q, n, 5, entries);
    } else {
        if (bits == 7)
            return indices_fit(q, n, 7, entries);
        if (bits == 8)
            return indices_fit(q, n, 8, entries);
    }
    return indices_fit(q, n, bits, entries);
}

/* The next byte at q, refilling the reader's window when it runs out; the
 * archive in memory ends there. */
#define NEXT_BYTE(bytes, q, end, rc, byte)                                               \
    do {                                                                                 \
        if ((q) == (end)) {                                                              \
            (bytes).p = (q);                                                             \
            if (((rc) = bytes_refill(&(bytes), 1)) != ZEFDEC_OK)                         \
                goto stop;                                                               \
            (q) = (bytes).p;                                                             \
            (end) = (bytes).end;                                                         \
        }                                                                                \
        (byte) = *(q)++;                                                                 \
    } while (0)

/* Passes over `lines` version 4 lines from the open one, checking every op
 * as op_next does, with its results, an op at a time: a run's index is
 * compared, a literal at hand has its indices checked several at a time
 * (not at all when every index names an entry), and one that is not is
 * read a byte at a time through refills. The bytes at hand are kept in
 * locals, the cursor only for a refill, and opening passes over a whole
 * image in one call. */
static int skip_ops(zefdec_image *image, uint32_t lines)
{
    const uint32_t bits = image->layout.index_shift, entries = image->layout.palette_size;
    const uint32_t width = image->width, mask = (1u << bits) - 1;
    byte_cursor b;
    const uint8_t *p, *end;
    uint32_t left = width;
    int rc = ZEFDEC_OK;

    bytes_start(&b, image->archive, image->next);
    p = b.p;
    end = b.end;
    for (;;) {
        uint32_t op, n, length, pending, have;
        if (!left) {
            if (!--lines)
                break;
            left = width;
        }
        NEXT_BYTE(b, p, end, rc, op);
        n = op_length(op);
        if (n > left) {
            rc = ZEFDEC_E_RUN;
            break;
        }
        left -= n;
        if (op >= ZEF_V4_OP_RUN_ZERO)
            continue;
        if (op >= ZEF_V4_OP_RUN) {
            NEXT_BYTE(b, p, end, rc, op);
            if (op >= entries)
                goto bad_index;
            continue;
        }
        length = (n * bits + 7) >> 3;
        /* behind a callback, a literal that fits the window is read into it whole */
        if ((size_t)(end - p) < length + 3 && length + 3 <= ZEFDEC_WINDOW_SIZE - WORD_MASK && b.reader) {
            rc = window_hold(&b, p, length + 3);
            p = b.p;
            end = b.end;
            if (rc != ZEFDEC_OK)
                goto stop;
        }
        if ((size_t)(end - p) >= length + 3) {
            if (entries <= mask && !literal_fits(p, n, bits, entries))
                goto bad_index;
            p += length;
            continue;
        }
        /* padding bits after the last index are passed over */
        for (pending = have = 0; n; n--) {
            if (have < bits) {
                uint32_t byte;
                NEXT_BYTE(b, p, end, rc, byte);
                pending = pending << 8 | byte;
                have += 8;
            }
            have -= bits;
            if ((pending >> have & mask) >= entries)
                goto bad_index;
        }
    }
stop:
    b.p = p;
    image->next = bytes_position(&b);
    image->x = width - left;
    return rc;
bad_index:
    rc = ZEFDEC_E_COLOUR;
    goto stop;
}
#else
/* The lines' runs, checked only. */
static int check_runs(zefdec_image *image)
{
    line_cursor c;
    run r;
    int rc = cursor_start(&c, image, image->layout.form);

    while (rc == ZEFDEC_OK && (rc = cursor_next(&c, &r, 0)) == ZEFDEC_OK)
        ;
    return cursor_stop(image, &c, rc);
}

/* Passes over `lines` lines from the next, with the checks and results of
 * zefdec_line: one small loop for every version. */
static int skip_lines(zefdec_image *image, uint32_t lines)
{
    int rc = ZEFDEC_OK;

    for (; rc == ZEFDEC_OK && lines; lines--) {
        rc = open_line(image);
        if (rc == ZEFDEC_OK)
            rc = check_runs(image);
        if (rc == ZEFDEC_OK)
            rc = close_line(image);
    }
    return rc;
}
#endif

#if !ZEFDEC_LINE_LOOPS
/* One loop for everything but passing over lines. Apart from zefdec_line,
 * so that passing over a version 4 line, a tail call, keeps no frame of the
 * run loop on the stack below the op checker. */
#if defined(__GNUC__)
__attribute__((noinline))
#endif
static int decode_line(zefdec_image *image, void *line, uint8_t *alpha)
{
#if ZEFDEC_FAST
    if (!line && !alpha && image->layout.form == FORM_OPS)
        return skip_ops(image, 1);
#else
    if (!line && !alpha)
        return check_runs(image);
#endif
    return decode_runs(image, line, alpha, line || alpha ? image->format : CHECKS_ONLY,
                       image->layout.form);
}
#else
/* A loop per format, and version 3 lines in loops whose form is fixed
 * too. */
#define DECODE_RUNS(image, line, alpha, format)                                      \
    ((image)->layout.form == FORM_CODES                                             \
         ? decode_runs(image, line, alpha, format, FORM_CODES)                      \
     : (image)->layout.form == FORM_OPS                                             \
         ? decode_runs(image, line, alpha, format, FORM_OPS)                        \
         : decode_runs(image, line, alpha, format, (image)->layout.form))

RUN_LOOP int decode_line(zefdec_image *image, void *line, uint8_t *alpha)
{
    if (!line && !alpha && image->layout.form == FORM_OPS)
        return skip_ops(image, 1);
    if (!line && !alpha)
        return line_checks_at_once(image) ? ZEFDEC_OK : DECODE_RUNS(image, 0, 0, CHECKS_ONLY);
    if (image->format == ZEFDEC_BGR888 && line)
        return alpha ? DECODE_RUNS(image, line, alpha, ZEFDEC_BGR888)
                     : DECODE_RUNS(image, line, 0, ZEFDEC_BGR888);
    if (image->format == ZEFDEC_RGB565)
        return alpha ? DECODE_RUNS(image, line, alpha, ZEFDEC_RGB565)
                     : DECODE_RUNS(image, line, 0, ZEFDEC_RGB565);
    return DECODE_RUNS(image, line, alpha, ZEFDEC_ARGB4444);
}
#endif

int zefdec_line(zefdec_image *image, void *line, uint8_t *alpha, uint32_t room)
{
    int rc;

    if (!image)
        return ZEFDEC_E_ARGUMENT;
    if (image->error)
        return image->error;
    if (image->in_line || image->y >= image->height)
        return ZEFDEC_E_ORDER;
    if ((line || alpha) && room < image->width)
        return ZEFDEC_E_ROOM;
    rc = open_line(image);
    if (rc == ZEFDEC_OK)
        rc = decode_line(image, line, alpha);
    if (rc == ZEFDEC_OK)
        rc = close_line(image);
    image->error = (int8_t)rc;
    return rc;
}

int zefdec_next_span(zefdec_image *image, zefdec_span *span)
{
    int rc;

    if (!image || !span)
        return ZEFDEC_E_ARGUMENT;
    for (rc = image->error; rc == ZEFDEC_OK;) {
        if (!image->in_line) {
            if (image->y >= image->height)
                return ZEFDEC_END;
            rc = open_line(image);
        } else {
            line_cursor c;
            run r;
            int found = 0;
            /* empty runs are passed over */
            rc = cursor_start(&c, image, image->layout.form);
            while (rc == ZEFDEC_OK && (rc = cursor_next(&c, &r, 1)) == ZEFDEC_OK) {
                if (r.length == 0)
                    continue;
                found = 1;
                span->x = r.x;
                span->y = image->y;
                span->length = r.length;
                span->colour = (uint16_t)nibbles_of(r.rgb);
                span->alpha = (uint8_t)r.alpha;
                span->pixel = pixel_of(image->format, r.rgb, r.alpha);
                break;
            }
            rc = cursor_stop(image, &c, rc);
            if (found)
                return ZEFDEC_OK;
            if (rc == ZEFDEC_OK)
                rc = close_line(image);
        }
    }
    image->error = (int8_t)rc;
    return rc;
}

/* ---- Drawing onto a canvas. Colours travel as 8-bit channels, 0xRRGGBB. ---- */

/* Canvas words may be the caller's uint16_t pixels. */
#if defined(__GNUC__)
typedef uint32_t __attribute__((__may_alias__)) canvas_word;
typedef uint16_t __attribute__((__may_alias__)) canvas_half;
#else
typedef uint32_t canvas_word;
typedef uint16_t canvas_half;
#endif

PIXEL_HELPER uint32_t swap_bytes(uint32_t pixel) { return (pixel >> 8 | pixel << 8) & 0xFFFFu; }

PIXEL_HELPER uint32_t rgb565_of(uint32_t rgb)
{
    return (rgb >> 8 & 0xF800) | (rgb >> 5 & 0x07E0) | (rgb >> 3 & 0x001F);
}

/* 5 and 6 bits are widened by repeating their top bits, so that full
 * intensity stays full. */
PIXEL_HELPER uint32_t rgb_of_565(uint32_t pixel)
{
    const uint32_t r = pixel >> 11, g = pixel >> 5 & 0x3F, b = pixel & 0x1F;

    return (r << 3 | r >> 2) << 16 | (g << 2 | g >> 4) << 8 | (b << 3 | b >> 2);
}

/* The source's part of the blend, source * A + 127 per channel: red and
 * blue as two 16-bit lanes of one word, green apart. */
typedef struct blend_source {
    uint32_t red_blue, green, inverse;
} blend_source;

PIXEL_HELPER blend_source blend_source_of(uint32_t rgb, uint32_t alpha)
{
    blend_source s;

    s.red_blue = (rgb & 0xFF00FFu) * alpha + 0x007F007Fu;
    s.green = (rgb >> 8 & 0xFF) * alpha + 127;
    s.inverse = OPAQUE - alpha;
    return s;
}

/* The blend as zefdec.h states it, of a canvas colour 0xRRGGBB. No lane
 * passes 255 * 255 + 127, so none carries into the other, and x / 255 is
 * (x + 1 + (x >> 8)) >> 8 for every x below 65535. */
PIXEL_HELPER uint32_t blended(const blend_source *s, uint32_t canvas)
{
    uint32_t rb = s->red_blue + (canvas & 0xFF00FFu) * s->inverse;
    uint32_t g = s->green + (canvas >> 8 & 0xFF) * s->inverse;

    rb = (rb + 0x00010001u + (rb >> 8 & 0x00FF00FFu)) >> 8 & 0x00FF00FFu;
    g = (g + 1 + (g >> 8)) >> 8;
    return rb | g << 8;
}

/* Each format: how a colour is stored, and how `count` stored pixels
 * from `at` take a colour `word`, alpha 1 to 254 << 24 | 0xRRGGBB, each
 * pixel read back by its own rule. */
static uint32_t pixel_565(uint32_t rgb) { return rgb565_of(rgb); }

/* The same blend worked in RGB565's own lanes: red and blue widened
 * together, as n * 33 >> 2 repeats a 5-bit channel's top bits and
 * n * 65 >> 4 a 6-bit one's, and narrowed straight into place. */
PIXEL_HELPER uint32_t blended_565(const blend_source *s, uint32_t pixel)
{
    uint32_t rb = (pixel >> 11) << 16 | (pixel & 0x1Fu), g = pixel >> 5 & 0x3Fu;

    rb = ((rb + (rb << 5)) >> 2 & 0x00FF00FFu) * s->inverse + s->red_blue;
    g = ((g + (g << 6)) >> 4) * s->inverse + s->green;
    rb = (rb + 0x00010001u + (rb >> 8 & 0x00FF00FFu)) >> 8;
    g = (g + 1 + (g >> 8)) >> 8;
    return (rb >> 8 & 0xF800u) | (g << 3 & 0x07E0u) | (rb >> 3 & 0x1Fu);
}

/* The 16-bit canvases whose bytes are swapped, as SPI panels take them. */
#define SWAPPED_CANVASES (ZEFDEC_CANVASES & (ZEFDEC_WITH_RGB565_SWAPPED | ZEFDEC_WITH_BGR565))

#if !ZEFDEC_FAST || SWAPPED_CANVASES
/* Both byte orders in one loop: `swap` is 0xFFFF for the swapped one. */
static void blend_16(uint8_t *at, uint32_t count, uint32_t word, uint32_t swap)
{
    const blend_source s = blend_source_of(word & 0xFFFFFFu, word >> 24);
    canvas_half *p = (canvas_half *)(void *)at;

    for (; count; count--, p++) {
        const uint32_t pixel = *p ^ ((*p ^ swap_bytes(*p)) & swap), out = blended_565(&s, pixel);
        *p = (uint16_t)(out ^ ((out ^ swap_bytes(out)) & swap));
    }
}
#endif

#if ZEFDEC_FAST
/* the common canvas, in a loop of its own */
static void blend_565(uint8_t *at, uint32_t count, uint32_t word)
{
    const blend_source s = blend_source_of(word & 0xFFFFFFu, word >> 24);
    canvas_half *p = (canvas_half *)(void *)at;

    for (; count; count--, p++)
        *p = (uint16_t)blended_565(&s, *p);
}
#else
static void blend_565(uint8_t *at, uint32_t count, uint32_t word) { blend_16(at, count, word, 0); }
#endif

#if ZEFDEC_CANVASES & ZEFDEC_WITH_RGB565_SWAPPED
static uint32_t pixel_565_swapped(uint32_t rgb) { return swap_bytes(rgb565_of(rgb)); }
#endif

#if SWAPPED_CANVASES
static void blend_565_swapped(uint8_t *at, uint32_t count, uint32_t word) { blend_16(at, count, word, 0xFFFFu); }
#endif

#if ZEFDEC_CANVASES & ZEFDEC_WITH_XRGB8888
static uint32_t pixel_8888(uint32_t rgb) { return rgb; }

/* the top byte is left as it was */
static void blend_8888(uint8_t *at, uint32_t count, uint32_t word)
{
    const blend_source s = blend_source_of(word & 0xFFFFFFu, word >> 24);
    canvas_word *p = (canvas_word *)(void *)at;

    for (; count; count--, p++)
        *p = (*p & 0xFF000000u) | blended(&s, *p & 0xFFFFFFu);
}
#endif

#if ZEFDEC_CANVASES & ZEFDEC_WITH_BGR565
/* BGR565 is RGB565 with red and blue traded, which is its own inverse;
 * the blend treats every channel alike, so it is RGB565's with the
 * source's red and blue traded. */
static uint32_t trade_red_blue(uint32_t pixel)
{
    return (pixel >> 11 & 0x1F) | (pixel & 0x07E0) | (pixel & 0x1F) << 11;
}

static uint32_t traded(uint32_t word)
{
    return (word & 0xFF00FF00u) | (word >> 16 & 0xFF) | (word & 0xFF) << 16;
}

static uint32_t pixel_bgr565(uint32_t rgb) { return trade_red_blue(rgb565_of(rgb)); }
static void blend_bgr565(uint8_t *at, uint32_t count, uint32_t word) { blend_565(at, count, traded(word)); }
static uint32_t pixel_bgr565_swapped(uint32_t rgb) { return swap_bytes(pixel_bgr565(rgb)); }
static void blend_bgr565_swapped(uint8_t *at, uint32_t count, uint32_t word)
{
    blend_565_swapped(at, count, traded(word));
}
#endif

struct paint;

/* All the draw code knows of a canvas format. Formats that the word-wise
 * path does not store are put pixel by pixel. The first, RGB565, is the
 * one whose rows are lines as zefdec_line decodes them; the one of 4-byte
 * words, XRGB8888, keeps the top byte of each pixel it draws. */
typedef struct canvas_kind {
    uint32_t (*pixel)(uint32_t rgb);  /* 0xRRGGBB as stored, a kept top byte 0 */
    void (*blend)(uint8_t *at, uint32_t count, uint32_t word);
    void (*put)(const struct paint *paint, uint32_t x, uint32_t rgb, uint32_t alpha);
    uint8_t format;                   /* its zefdec_canvas_format */
    uint8_t bytes;                    /* per pixel; 0: packed, `bits` a pixel */
    uint8_t bits;                     /* grey: bits a pixel; 888: where red is */
    uint8_t pages;                    /* columns of 8 rows a byte */
} canvas_kind;

#define PUT_CANVASES (ZEFDEC_CANVASES & (ZEFDEC_WITH_RGB888 | ZEFDEC_WITH_ARGB8888 | ZEFDEC_WITH_L8 | \
                                         ZEFDEC_WITH_L4 | ZEFDEC_WITH_L2 | ZEFDEC_WITH_L1 |         \
                                         ZEFDEC_WITH_L1_PAGES))
#define GREY_CANVASES (ZEFDEC_CANVASES & (ZEFDEC_WITH_L8 | ZEFDEC_WITH_L4 | ZEFDEC_WITH_L2 | \
                                          ZEFDEC_WITH_L1 | ZEFDEC_WITH_L1_PAGES))

#if ZEFDEC_CANVASES & ZEFDEC_WITH_RGB888
static void put_888(const struct paint *paint, uint32_t x, uint32_t rgb, uint32_t alpha);
#endif
#if ZEFDEC_CANVASES & ZEFDEC_WITH_ARGB8888
static void put_argb(const struct paint *paint, uint32_t x, uint32_t rgb, uint32_t alpha);
#endif
#if GREY_CANVASES
static void put_grey(const struct paint *paint, uint32_t x, uint32_t rgb, uint32_t alpha);
#endif

/* The formats compiled in, each with its number, so that those left out
 * leave no gaps. */
static const canvas_kind canvas_kinds[] = {
    {pixel_565, blend_565, 0, ZEFDEC_CANVAS_RGB565, 2, 0, 0},
#if ZEFDEC_CANVASES & ZEFDEC_WITH_RGB565_SWAPPED
    {pixel_565_swapped, blend_565_swapped, 0, ZEFDEC_CANVAS_RGB565_SWAPPED, 2, 0, 0},
#endif
#if ZEFDEC_CANVASES & ZEFDEC_WITH_XRGB8888
    {pixel_8888, blend_8888, 0, ZEFDEC_CANVAS_XRGB8888, 4, 0, 0},
#endif
#if ZEFDEC_CANVASES & ZEFDEC_WITH_BGR565
    {pixel_bgr565, blend_bgr565, 0, ZEFDEC_CANVAS_BGR565, 2, 0, 0},
    {pixel_bgr565_swapped, blend_bgr565_swapped, 0, ZEFDEC_CANVAS_BGR565_SWAPPED, 2, 0, 0},
#endif
#if ZEFDEC_CANVASES & ZEFDEC_WITH_RGB888
    {0, 0, put_888, ZEFDEC_CANVAS_RGB888, 3, 0, 0},
    {0, 0, put_888, ZEFDEC_CANVAS_BGR888, 3, 2, 0},
#endif
#if ZEFDEC_CANVASES & ZEFDEC_WITH_ARGB8888
    {0, 0, put_argb, ZEFDEC_CANVAS_ARGB8888, 4, 0, 0},
#endif
#if ZEFDEC_CANVASES & ZEFDEC_WITH_L8
    {0, 0, put_grey, ZEFDEC_CANVAS_L8, 1, 8, 0},
#endif
#if ZEFDEC_CANVASES & ZEFDEC_WITH_L4
    {0, 0, put_grey, ZEFDEC_CANVAS_L4, 0, 4, 0},
#endif
#if ZEFDEC_CANVASES & ZEFDEC_WITH_L2
    {0, 0, put_grey, ZEFDEC_CANVAS_L2, 0, 2, 0},
#endif
#if ZEFDEC_CANVASES & ZEFDEC_WITH_L1
    {0, 0, put_grey, ZEFDEC_CANVAS_L1, 0, 1, 0},
#endif
#if ZEFDEC_CANVASES & ZEFDEC_WITH_L1_PAGES
    {0, 0, put_grey, ZEFDEC_CANVAS_L1_PAGES, 0, 1, 1},
#endif
};


/* What stays the same for every line of one draw, handed to each line as
 * one pointer. */
typedef struct paint {
    const canvas_kind *kind;
    uint32_t opacity;
    uint32_t colour;                  /* recolouring: 0xRRGGBB */
    uint8_t shaded;                   /* opacity below 255 or recolouring */
#if ZEFDEC_FAST
    uint8_t partial_palette;          /* version 4: some indices name no entry */
#endif
    uint8_t recolour;
    uint8_t dither;
    uint8_t *pixels;                  /* pixel by pixel: the canvas */
    uint32_t stride;
    uint32_t left, y;                 /* and where the line's first visible pixel goes (the
                                         canvas row of every pixel put) */
#if ZEFDEC_FAST
    /* versions 3 and 4 onto canvases of 2 and 4 bytes: how each pixel
     * code or palette index is drawn, worked out once per draw (table
     * words, below) */
    uint32_t words[ZEF_V4_MAX_ENTRIES];
#endif
} paint;

/* A table word: 0 for a transparent pixel; WORD_OPAQUE | the pixel as the
 * canvas stores it (at most 24 bits, the kept bits 0); alpha 1 to 254 << 24
 * | 0xRRGGBB to blend; or NO_ENTRY for an index past the palette, which is
 * a fault where it is met. So a pixel's whole treatment is one load and
 * two compares, whatever the opacity or recolouring. */
#define WORD_OPAQUE 0xFF000000u
#define NO_ENTRY 1u

/* Opacity is multiplied in, rounded to the nearest. */
static uint32_t faded(const paint *paint, uint32_t alpha)
{
    return (alpha * paint->opacity + 127) / 255;
}

static void shade(const paint *paint, uint32_t *rgb, uint32_t *alpha)
{
    *alpha = faded(paint, *alpha);
    if (paint->recolour)
        *rgb = paint->colour;
}

#if ZEFDEC_FAST
static uint32_t table_word(const paint *paint, uint32_t rgb, uint32_t alpha)
{
    if (paint->shaded)
        shade(paint, &rgb, &alpha);
    if (alpha == OPAQUE)
        return WORD_OPAQUE | paint->kind->pixel(rgb);
    return alpha ? alpha << 24 | rgb : 0;
}

/* Version 4: a word per palette index up to the index mask, the indices
 * a literal can hold; a run's index byte is checked against the mask. */
static void table_of_entries(paint *paint, const zefdec_layout *layout)
{
    const uint8_t *entry = layout->palette;
    uint32_t i;

    /* RGB565 as it is, every icon's case, without a call per entry: an
     * entry read as one word, red in its low byte */
    i = 0;
    if (paint->kind == canvas_kinds && !paint->shaded)
        for (; i < layout->palette_size; i++, entry += ZEF_V4_ENTRY_SIZE) {
            const uint32_t e = u32_at(entry), alpha = e >> 24;
            paint->words[i] = alpha == OPAQUE ? WORD_OPAQUE | (e << 8 & 0xF800u) | (e >> 5 & 0x07E0u) | (e >> 19 & 0x1Fu)
                              : alpha     ? e << 24 >> 8 | (e & 0xFF00u) | (e >> 16 & 0xFFu) | alpha << 24
                                          : 0;
        }
    for (; i < layout->palette_size; i++, entry += ZEF_V4_ENTRY_SIZE)
        paint->words[i] = table_word(paint, entry_rgb(entry), entry[3]);
    paint->partial_palette = i <= layout->index_mask;
    for (; i <= layout->index_mask; i++)
        paint->words[i] = NO_ENTRY;
}

/* Version 3: a word per pixel code, colour by colour, the alpha codes'
 * alphas and the words between a colour's codes worked out first, as
 * every colour shares them. */
static void table_of_codes(paint *paint, const zefdec_layout *layout)
{
    const uint32_t levels = (uint32_t)layout->alpha_mask + 1;
    const uint32_t indices = ((0xFFu >> layout->index_shift) & layout->index_mask) + 1;
    uint32_t alphas[4], apart[4], index, level;

    for (level = 0; level < levels; level++) {
        alphas[level] = level * layout->alpha_scale + layout->alpha_opaque;
        if (paint->shaded)
            alphas[level] = faded(paint, alphas[level]);
        apart[level] = level << layout->alpha_shift;
    }
    for (index = 0; index < indices; index++) {
        uint32_t *const words = paint->words + (index << layout->index_shift);
        uint32_t rgb = paint->colour, pixel;
        if (index >= layout->palette_size) {
            for (level = 0; level < levels; level++)
                words[apart[level]] = NO_ENTRY;
            continue;
        }
        if (!paint->recolour)
            rgb = rgb_of((u16_at(layout->palette + index * ZEF_PALETTE_COLOUR_SIZE) >> layout->colour_shift) &
                         ZEF_COLOUR_MASK);
        /* RGB565 without a call per colour */
        pixel = WORD_OPAQUE | (paint->kind == canvas_kinds ? rgb565_of(rgb) : paint->kind->pixel(rgb));
        /* unshaded, two alpha bits give 0, 85, 170 and 255 and one gives 0
         * and 255, so a colour's words are stores */
        if (!paint->shaded && levels == 4) {
            words[0] = 0;
            words[apart[1]] = 85u << 24 | rgb;
            words[apart[2]] = 170u << 24 | rgb;
            words[apart[3]] = pixel;
            continue;
        }
        if (!paint->shaded && levels == 2) {
            words[0] = 0;
            words[apart[1]] = pixel;
            continue;
        }
        for (level = 0; level < levels; level++) {
            const uint32_t alpha = alphas[level];
            words[apart[level]] = alpha == OPAQUE ? pixel : alpha ? alpha << 24 | rgb : 0;
        }
    }
}
#endif

/* One pixel takes a word that is neither transparent nor NO_ENTRY. The
 * loops are written for 2 and 4 bytes a pixel and inlined with the size
 * as a constant; RGB565's blend is inlined too, the others are called. */
/* The bytes of a pixel of a canvas that is not put pixel by pixel. */
#define WORD_BYTES(kind) ((ZEFDEC_CANVASES & ZEFDEC_WITH_XRGB8888) ? (kind)->bytes : 2u)

PIXEL_HELPER void opaque_word(uint8_t *at, uint32_t word, const unsigned bytes)
{
    /* 4 bytes: XRGB8888, the one canvas of 4-byte words (WORD_BYTES) */
    if (bytes == 2)
        *(canvas_half *)(void *)at = (uint16_t)word;
    else
        *(canvas_word *)(void *)at = (*(canvas_word *)(void *)at & 0xFF000000u) | (word & 0xFFFFFFu);
}

#if ZEFDEC_FAST

PIXEL_HELPER void blend_one_565(uint8_t *at, uint32_t word)
{
    const blend_source s = blend_source_of(word & 0xFFFFFFu, word >> 24);
    *(canvas_half *)(void *)at = (uint16_t)blended_565(&s, *(canvas_half *)(void *)at);
}

PIXEL_HELPER void blend_word(const canvas_kind *kind, uint8_t *at, uint32_t word, const unsigned bytes)
{
    if (bytes == 2 && kind == canvas_kinds)
        blend_one_565(at, word);
    else
        kind->blend(at, 1, word);
}

PIXEL_HELPER void put_word(const canvas_kind *kind, uint8_t *at, uint32_t word, const unsigned bytes)
{
    if (word >= WORD_OPAQUE)
        opaque_word(at, word, bytes);
    else
        blend_word(kind, at, word, bytes);
}
#endif

/* `count` pixels from `at`, at least one, take the same word; 16-bit
 * pixels go two to a word. */
PIXEL_HELPER void span_word(const canvas_kind *kind, uint8_t *at, uint32_t count, uint32_t word,
                            const unsigned bytes)
{
    if (word < WORD_OPAQUE)
        kind->blend(at, count, word);
#if !ZEFDEC_FAST
    /* the least code: a pixel at a time */
    else
        for (; count; count--, at += bytes)
            opaque_word(at, word, bytes);
#else
    else if (bytes == 2) {
        const uint32_t pair = (word & 0xFFFFu) * 0x10001u;
        canvas_half *p = (canvas_half *)(void *)at, *const end = p + count;
        if ((uintptr_t)p & 2)
            *p++ = (uint16_t)pair;
        for (; end - p >= 2; p += 2)
            *(canvas_word *)(void *)p = pair;
        if (p < end)
            *p = (uint16_t)pair;
    } else
        for (; count; count--, at += 4)
            *(canvas_word *)(void *)at = (*(canvas_word *)(void *)at & 0xFF000000u) | (word & 0xFFFFFFu);
#endif
}

#if ZEFDEC_FAST
/* A run of `n` pixels from line column `column` (unsigned: left of the
 * clip it has wrapped) onto the clip's `count` columns at `row`. */
PIXEL_HELPER void clipped_run(const canvas_kind *kind, uint8_t *row, uint32_t column, uint32_t n,
                              uint32_t count, uint32_t word, const unsigned bytes)
{
    if (column >= count) {
        /* wholly left or right of the clip, or ending at its left edge */
        if (column + n > column || column + n == 0)
            return;
        n += column;
        column = 0;
    }
    if (n > count - column)
        n = count - column;
    span_word(kind, row + (size_t)column * bytes, n, word, bytes);
}
#endif

/* Draws the open line's image columns [first, first + count) to `row`,
 * which points at the canvas pixel of column `first`, from a generic run
 * cursor: versions 1 and 2, and canvases put pixel by pixel. The runs
 * outside are read and checked as zefdec_line would. */
static int draw_runs(zefdec_image *image, uint8_t *row, uint32_t first, uint32_t count,
                     const paint *paint)
{
    const canvas_kind *kind = paint->kind;
    const uint32_t last = first + count;
    line_cursor c;
    run r;
    int rc;

    rc = cursor_start(&c, image, image->layout.form);
    while (rc == ZEFDEC_OK && (rc = cursor_next(&c, &r, 1)) == ZEFDEC_OK) {
        const uint32_t from = r.x > first ? r.x : first;
        const uint32_t to = c.x < last ? c.x : last;
        if (paint->shaded)
            shade(paint, &r.rgb, &r.alpha);
#if PUT_CANVASES
        if (kind->put) {
            uint32_t x;
            for (x = from; r.alpha && x < to; x++)
                kind->put(paint, paint->left + x - first, r.rgb, r.alpha);
        } else
#endif
        if (from < to && r.alpha) {
            uint8_t *at = row + (size_t)(from - first) * WORD_BYTES(kind);
            const uint32_t word = r.alpha == OPAQUE ? WORD_OPAQUE | kind->pixel(r.rgb) : r.alpha << 24 | r.rgb;
            span_word(kind, at, to - from, word, WORD_BYTES(kind));
        }
    }
    return cursor_stop(image, &c, rc);
}

#if ZEFDEC_FAST
/* One literal pixel takes its table word: 1 for an index past the palette. */
PIXEL_HELPER int literal_pixel(const canvas_kind *kind, uint8_t *at, uint32_t word, const unsigned bytes,
                               const int rgb565)
{
    /* opaque first, the most common pixel of busy art: one compare */
    if (word >= WORD_OPAQUE)
        opaque_word(at, word, bytes);
    else if (word > NO_ENTRY && rgb565)
        blend_one_565(at, word);
    else if (word > NO_ENTRY)
        kind->blend(at, 1, word);
    else if (word)
        return 1;
    return 0;
}

/* A literal's indices from q, at hand with 3 bytes after them, whose
 * pixels land on clip columns [column, column + n), wrapped while left of
 * the clip: those outside are checked, those inside drawn, in order. Each
 * index is found at its own bit, so the loops keep no bit buffer: the
 * loop that busy pictures spend their time in, apart so that everything
 * it holds stays in registers. `group` indices are taken from one load: 3,
 * or 4 when `bits` is at most 6 (4 x 6 bits fit the 25 a load gives).
 * ZEFDEC_OK or ZEFDEC_E_COLOUR. */
PIXEL_HELPER int literal(uint8_t *row, uint32_t column, uint32_t count, const uint8_t *q, uint32_t n,
                         const uint32_t bits, const unsigned group, const paint *paint, const unsigned bytes,
                         const int rgb565)
{
    const canvas_kind *kind = paint->kind;
    const uint32_t *const words = paint->words;
    const int32_t from = (int32_t)column;
    uint32_t k = 0, shown = from < 0 ? 0u - column : 0, hidden = (int32_t)count > from ? count - column : 0;
    uint8_t *at, *end;
    uint32_t bit;

    if (shown > n)
        shown = n;
    if (hidden > n)
        hidden = n;
    if (hidden < shown)
        hidden = shown;
    /* the pixels left of the clip, checked unless every index names an entry */
    for (; paint->partial_palette && k < shown; k++)
        if (words[index_at(q, k * bits, bits)] == NO_ENTRY)
            return ZEFDEC_E_COLOUR;
    at = row + (size_t)(column + shown) * bytes;
    bit = shown * bits;
    for (end = at + (size_t)(hidden - shown) / group * group * bytes; at != end;
         at += group * bytes, bit += group * bits) {
        const uint32_t taken = bits_at(q, bit);
        if (literal_pixel(kind, at, words[taken >> (32 - bits)], bytes, rgb565) ||
            literal_pixel(kind, at + bytes, words[taken << bits >> (32 - bits)], bytes, rgb565) ||
            literal_pixel(kind, at + 2 * bytes, words[taken << 2 * bits >> (32 - bits)], bytes, rgb565) ||
            (group == 4 && literal_pixel(kind, at + 3 * bytes, words[taken << 3 * bits >> (32 - bits)], bytes,
                                         rgb565)))
            return ZEFDEC_E_COLOUR;
    }
    for (end = row + (size_t)(column + hidden) * bytes; at != end; at += bytes, bit += bits)
        if (literal_pixel(kind, at, words[index_at(q, bit, bits)], bytes, rgb565))
            return ZEFDEC_E_COLOUR;
    for (k = hidden; paint->partial_palette && k < n; k++)
        if (words[index_at(q, k * bits, bits)] == NO_ENTRY)
            return ZEFDEC_E_COLOUR;
    return ZEFDEC_OK;
}

LINE_LOOP int literal_2(uint8_t *row, uint32_t column, uint32_t count, const uint8_t *q, uint32_t n, uint32_t bits,
                        const paint *paint)
{
    if (paint->kind != canvas_kinds)
        return literal(row, column, count, q, n, bits, 3, paint, 2, 0);
    /* RGB565, the common canvas, blends inline, and takes the common index
     * widths as constants, which leave the loop its registers */
    if (bits <= 6) {
        if (bits == 6)
            return literal(row, column, count, q, n, 6, 4, paint, 2, 1);
        if (bits == 5)
            return literal(row, column, count, q, n, 5, 4, paint, 2, 1);
    } else {
        if (bits == 7)
            return literal(row, column, count, q, n, 7, 3, paint, 2, 1);
        if (bits == 8)
            return literal(row, column, count, q, n, 8, 3, paint, 2, 1);
    }
    return literal(row, column, count, q, n, bits, 3, paint, 2, 1);
}

LINE_LOOP int literal_4(uint8_t *row, uint32_t column, uint32_t count, const uint8_t *q, uint32_t n, uint32_t bits,
                        const paint *paint)
{
    return literal(row, column, count, q, n, bits, 3, paint, 4, 0);
}
/* Version 4, a whole op at a time, through the table: runs of a
 * transparent entry are passed over, opaque runs are filled, only partly
 * transparent pixels are blended. Bytes are taken one at a time, so that
 * a literal longer than the reader's window streams through it. The line
 * is drawn whole, so nothing of a literal is left between calls.
 * `column` is the op's column in the clip, wrapped while left of it. */
PIXEL_HELPER int ops_lines(zefdec_image *image, uint8_t *row, uint32_t lines, uint32_t first, uint32_t count,
                           const paint *paint, const unsigned bytes)
{
    const canvas_kind *kind = paint->kind;
    const uint32_t *const words = paint->words;
    const uint32_t bits = image->layout.index_shift, mask = image->layout.index_mask;
    const uint8_t *q, *end;
    byte_cursor b;
    uint32_t left = image->width, column = 0u - first;
    int rc = ZEFDEC_OK;

    bytes_start(&b, image->archive, image->next);
    q = b.p;
    end = b.end;
    for (;;) {
        uint32_t op, n, word;

        if (!left) {
            /* the line is drawn, and the next begins */
            image->y++;
            if (!--lines)
                break;
            row += paint->stride;
            left = image->width;
            column = 0u - first;
        }

        NEXT_BYTE(b, q, end, rc, op);
        n = op_length(op);
        if (n > left) {
            rc = ZEFDEC_E_RUN;
            break;
        }
        left -= n;
        if (op < ZEF_V4_OP_RUN) {
            /* a literal's indices, a byte of them at a time */
            uint32_t pending = 0, have = 0;
            const uint32_t length = (n * bits + 7) >> 3;
            /* behind a callback, a literal that fits the window is read into it
             * whole, with the 3 bytes after it that its last index is read with */
            if ((size_t)(end - q) < length + 3 && length + 3 <= ZEFDEC_WINDOW_SIZE - WORD_MASK && b.reader) {
                rc = window_hold(&b, q, length + 3);
                q = b.p;
                end = b.end;
                if (rc != ZEFDEC_OK)
                    goto stop;
            }
            if ((size_t)(end - q) >= length + 3) {
                /* at hand: no refill per pixel */
                if ((bytes == 2 ? literal_2 : literal_4)(row, column, count, q, n, bits, paint) != ZEFDEC_OK)
                    goto no_entry;
                q += length;
                column += n;
                continue;
            }
            for (; n; n--, column++) {
                if (have < bits) {
                    uint32_t byte;
                    NEXT_BYTE(b, q, end, rc, byte);
                    pending = pending << 8 | byte;
                    have += 8;
                }
                have -= bits;
                word = words[pending >> have & mask];
                if (word == NO_ENTRY)
                    goto no_entry;
                if (column < count && word)
                    put_word(kind, row + (size_t)column * bytes, word, bytes);
            }
            continue;
        }
        word = words[0];
        if (op < ZEF_V4_OP_RUN_ZERO) {
            uint32_t index;
            NEXT_BYTE(b, q, end, rc, index);
            if (index > mask)
                goto no_entry;
            word = words[index];
            if (word == NO_ENTRY)
                goto no_entry;
        }
        if (word)
            clipped_run(kind, row, column, n, count, word, bytes);
        column += n;
    }
stop:
    b.p = q;
    image->next = bytes_position(&b);
    image->x = image->width - left;
    return rc;
no_entry:
    rc = ZEFDEC_E_COLOUR;
    goto stop;
}

/* Runs of a version 3 line inside the clip, from *q to `limit`, all at
 * hand: the common line, with no clip arithmetic or refill per run. A
 * fault, or runs past the line's count, is left to the caller's loop,
 * which meets it as it would. The width left. */
PIXEL_HELPER uint32_t codes_at_hand(uint8_t *at, const uint8_t **from, const uint8_t *limit, uint32_t left,
                                    const paint *paint, const unsigned bytes)
{
    const canvas_kind *kind = paint->kind;
    const uint32_t *const words = paint->words;
    const uint8_t *q = *from;

    while (left && q != limit) {
        const uint32_t n = q[1], word = words[q[0]];
        if (n > left || word == NO_ENTRY)
            break;
        q += ZEF_PIXEL_CODE_RUN_SIZE;
        left -= n;
        /* runs of one and two pixels, most of busy art, as plain stores */
        if (word >= WORD_OPAQUE && n == 1)
            opaque_word(at, word, bytes);
        else if (word >= WORD_OPAQUE && n == 2) {
            opaque_word(at, word, bytes);
            opaque_word(at + bytes, word, bytes);
        } else if (word && n == 1)
            blend_word(kind, at, word, bytes);
        else if (word && n)
            span_word(kind, at, n, word, bytes);
        at += (size_t)n * bytes;
    }
    *from = q;
    return left;
}

LINE_LOOP uint32_t codes_at_hand_2(uint8_t *at, const uint8_t **from, const uint8_t *limit, uint32_t left,
                                   const paint *paint)
{
    return codes_at_hand(at, from, limit, left, paint, 2);
}

#if ZEFDEC_CANVASES & ZEFDEC_WITH_XRGB8888
LINE_LOOP uint32_t codes_at_hand_4(uint8_t *at, const uint8_t **from, const uint8_t *limit, uint32_t left,
                                   const paint *paint)
{
    return codes_at_hand(at, from, limit, left, paint, 4);
}
#else
#define codes_at_hand_4 codes_at_hand_2
#endif

/* Version 3, `lines` lines from the image's next, a run of (pixel code,
 * length) at a time, through the table, with the checks and counts of
 * zefdec_line. `column` is the run's column in the clip, wrapped while
 * left of it. */
PIXEL_HELPER int codes_lines(zefdec_image *image, uint8_t *row, uint32_t lines, uint32_t first, uint32_t count,
                             const paint *paint, const unsigned bytes)
{
    const canvas_kind *kind = paint->kind;
    const uint32_t *const words = paint->words;
    const uint8_t *q, *end;
    byte_cursor b;
    uint32_t left = 0, column, runs = 0;
    const int unclipped = first == 0 && count >= image->width;
    int rc = ZEFDEC_OK;

    bytes_start(&b, image->archive, image->next);
    q = b.p;
    end = b.end;
    for (;;) {
        if (end - q < ZEF_LINE_ENTRY_COUNT_SIZE) {
            b.p = q;
            if ((rc = bytes_refill(&b, ZEF_LINE_ENTRY_COUNT_SIZE)) != ZEFDEC_OK)
                goto stop;
            q = b.p;
            end = b.end;
        }
        image->line_runs_left = (uint16_t)u16_at(q);
        q += ZEF_LINE_ENTRY_COUNT_SIZE;
        left = image->width;
        column = 0u - first;
        if (unclipped) {
            const uint8_t *const start = q;
            const size_t room = (size_t)(end - q) & ~(size_t)1, stated = (size_t)image->line_runs_left * 2u;
            left = (bytes == 2 ? codes_at_hand_2 : codes_at_hand_4)(row, &q, q + (room < stated ? room : stated),
                                                                    left, paint);
            runs = (uint32_t)(q - start) / ZEF_PIXEL_CODE_RUN_SIZE;
            column = image->width - left;
        }
        while (left) {
            uint32_t n, word;
            if (end - q < ZEF_PIXEL_CODE_RUN_SIZE) {
                b.p = q;
                if ((rc = bytes_refill(&b, ZEF_PIXEL_CODE_RUN_SIZE)) != ZEFDEC_OK)
                    goto stop;
                q = b.p;
                end = b.end;
            }
            n = q[1];
            if (n > left) {
                rc = ZEFDEC_E_RUN;
                goto stop;
            }
            word = words[q[0]];
            if (word == NO_ENTRY) {
                rc = ZEFDEC_E_COLOUR;
                goto stop;
            }
            q += ZEF_PIXEL_CODE_RUN_SIZE;
            runs++;
            left -= n;
            /* single pixels, the most common run of busy art, take no clip arithmetic */
            if (n == 1 && word && column < count)
                put_word(kind, row + (size_t)column * bytes, word, bytes);
            else if (n > 1 && word)
                clipped_run(kind, row, column, n, count, word, bytes);
            column += n;
        }
        image->line_runs_left = (uint16_t)(image->line_runs_left - runs);
        image->runs_left -= runs;
        runs = 0;
        image->y++;
        if (image->line_runs_left != 0)
            rc = ZEFDEC_E_LINE_COUNT;
        else if (image->y == image->height && image->runs_left != 0)
            rc = ZEFDEC_E_IMAGE_COUNT;
        if (rc != ZEFDEC_OK || !--lines)
            break;
        row += paint->stride;
    }
stop:
    image->line_runs_left = (uint16_t)(image->line_runs_left - runs);
    image->runs_left -= runs;
    b.p = q;
    image->next = bytes_position(&b);
    image->x = image->width - left;
    return rc;
}

/* The loops above, one function per pixel size, each apart from the draw
 * so that its locals stay in registers. */
LINE_LOOP int ops_2(zefdec_image *image, uint8_t *row, uint32_t lines, uint32_t first, uint32_t count,
                    const paint *paint)
{
    return ops_lines(image, row, lines, first, count, paint, 2);
}

#if ZEFDEC_CANVASES & ZEFDEC_WITH_XRGB8888
/* XRGB8888, the one canvas of 4 bytes drawn through the table */
#define TABLE_LOOP(bytes, two, four) ((bytes) == 2 ? (two) : (four))

LINE_LOOP int ops_4(zefdec_image *image, uint8_t *row, uint32_t lines, uint32_t first, uint32_t count,
                    const paint *paint)
{
    return ops_lines(image, row, lines, first, count, paint, 4);
}
#else
#define TABLE_LOOP(bytes, two, four) (two)
#endif

LINE_LOOP int codes_2(zefdec_image *image, uint8_t *row, uint32_t lines, uint32_t first, uint32_t count,
                    const paint *paint)
{
    return codes_lines(image, row, lines, first, count, paint, 2);
}

#if ZEFDEC_CANVASES & ZEFDEC_WITH_XRGB8888
LINE_LOOP int codes_4(zefdec_image *image, uint8_t *row, uint32_t lines, uint32_t first, uint32_t count,
                    const paint *paint)
{
    return codes_lines(image, row, lines, first, count, paint, 4);
}
#endif
#endif

#if ZEFDEC_CANVASES & ZEFDEC_WITH_RGB888
/* One pixel's channels blended as zefdec.h states. */
static uint32_t mix(uint32_t rgb, uint32_t canvas, uint32_t alpha)
{
    const blend_source source = blend_source_of(rgb, alpha);

    return blended(&source, canvas);
}
#endif

#if ZEFDEC_CANVASES & ZEFDEC_WITH_RGB888
/* Three bytes, red at byte `bits` and blue at the other end. */
static void put_888(const paint *paint, uint32_t x, uint32_t rgb, uint32_t alpha)
{
    const uint32_t y = paint->y;
    uint8_t *at = paint->pixels + (size_t)y * paint->stride + (size_t)x * 3;
    const unsigned red = paint->kind->bits, blue = 2 - red;

    if (alpha != OPAQUE)
        rgb = mix(rgb, (uint32_t)at[red] << 16 | (uint32_t)at[1] << 8 | at[blue], alpha);
    at[red] = (uint8_t)(rgb >> 16);
    at[1] = (uint8_t)(rgb >> 8);
    at[blue] = (uint8_t)rgb;
}
#endif

#if ZEFDEC_CANVASES & ZEFDEC_WITH_ARGB8888
/* Porter-Duff over a canvas pixel that has alpha of its own. */
static void put_argb(const paint *paint, uint32_t x, uint32_t rgb, uint32_t alpha)
{
    const uint32_t y = paint->y;
    canvas_word *at = (canvas_word *)(void *)(paint->pixels + (size_t)y * paint->stride + (size_t)x * 4);
    const uint32_t canvas = *at;
    const uint32_t under = ((canvas >> 24) * (OPAQUE - alpha) + 127) / 255, total = alpha + under;
    uint32_t out = total << 24, shift;

    for (shift = 0; shift < 24; shift += 8)
        out |= ((rgb >> shift & 0xFF) * alpha + (canvas >> shift & 0xFF) * under + total / 2) / total
               << shift;
    *at = out;
}
#endif

#if GREY_CANVASES
static uint32_t luma(uint32_t rgb)
{
    return ((rgb >> 16) * 77 + (rgb >> 8 & 0xFF) * 150 + (rgb & 0xFF) * 29 + 128) >> 8;
}

/* Grey of 8, 4, 2 or 1 bits, in rows or in pages. */
static void put_grey(const paint *paint, uint32_t x, uint32_t rgb, uint32_t alpha)
{
    const uint32_t y = paint->y;
    const unsigned bits = paint->kind->bits, top = (1u << bits) - 1;
    uint8_t *at;
    unsigned shift;
    uint32_t grey = luma(rgb), threshold = 127;

    if (paint->kind->pages) {
        at = paint->pixels + (size_t)(y >> 3) * paint->stride + x;
        shift = y & 7;
    } else {
        at = paint->pixels + (size_t)y * paint->stride + (size_t)x * bits / 8;
        shift = 8 - bits - (x * bits & 7);
    }
    if (alpha != OPAQUE)
        grey = (grey * alpha + (*at >> shift & top) * (255 / top) * (OPAQUE - alpha) + 127) / 255;
    if (paint->dither == ZEFDEC_DITHER_BAYER) {
        /* 16 * B + 8, B the 4 x 4 Bayer matrix: the bits of x ^ y and y
         * interleaved and reversed */
        const uint32_t a = x ^ y;
        threshold = (a & 1) << 7 | (y & 1) << 6 | (a & 2) << 4 | (y & 2) << 3 | 8;
    }
    *at = (uint8_t)((*at & ~(top << shift)) | (grey * top + threshold) / 255 << shift);
}
#endif


/* Where `size` pixels placed at `at` meet `room` pixels: the first visible
 * pixel, the canvas position it lands on and how many are visible (0 for
 * none). Unsigned throughout, so no position overflows. */
static uint32_t visible(int32_t at, uint32_t size, uint32_t room, uint32_t *first,
                        uint32_t *start)
{
    *first = at < 0 ? 0u - (uint32_t)at : 0;
    *start = at < 0 ? 0 : (uint32_t)at;
    if (*first >= size || *start >= room)
        return 0;
    return size - *first < room - *start ? size - *first : room - *start;
}

/* The lines before `line`, passed over from where the archive's last draw
 * of this image stopped, or from the top. */
static int pass_lines(zefdec_image *image, const zefdec_archive *archive, uint32_t position,
                      uint32_t line)
{
    int rc = ZEFDEC_OK;

    if (archive->drawn_line && archive->drawn_position == position &&
        archive->drawn_line <= line) {
        image->y = archive->drawn_line;
        image->next = archive->drawn_next;
        image->runs_left = archive->drawn_runs_left;
    }
    if (image->layout.form == FORM_RAW && image->y < line) {
        /* begin has checked that the whole raw image is there */
        image->next += (size_t)(line - image->y) * image->width * ZEF_COLOUR_WORD_SIZE;
        image->y = line;
    }
#if ZEFDEC_FAST
    /* lines in one pass, with the checks of a line at a time */
    if (image->layout.form == FORM_OPS && image->y < line) {
        rc = skip_ops(image, line - image->y);
        if (rc == ZEFDEC_OK)
            image->y = line;
    } else if (image->layout.form != FORM_RAW && image->y < line)
        rc = skip_runs(image, line - image->y);
    return rc;
#else
    return image->y < line ? skip_lines(image, line - image->y) : rc;
#endif
}

/* Whether the canvas's rows hold its width and its pixels are aligned. */
static int canvas_fits(const canvas_kind *kind, const zefdec_canvas *canvas)
{
    uint32_t bytes = kind->bytes, columns = canvas->width;

#if PUT_CANVASES
    /* packed rows: a byte holds 8 / bits columns of a row (in shifts, as
     * a division is a libgcc call on cores without one), or one column of
     * a page */
    if (!bytes) {
        if (!kind->pages)
            columns = (columns >> 3) * kind->bits + (((columns & 7u) * kind->bits + 7u) >> 3);
        bytes = 1;
    }
#endif
    /* words of 2 and 4 bytes are aligned for their type, bytes need not be */
    return columns <= canvas->stride / bytes &&
           !(((uintptr_t)canvas->pixels | canvas->stride) & ((bytes - 1u) & ~bytes));
}

int zefdec_draw_with(const zefdec_archive *archive, uint32_t position, const zefdec_canvas *canvas,
                     int32_t x, int32_t y, const zefdec_draw_options *options)
{
    static const zefdec_draw_options plain = ZEFDEC_DRAW_OPTIONS_DEFAULT;
    zefdec_image image;
    paint paint;
    uint32_t first_column, first_line, left, top, columns, lines;
    uint8_t *row = 0;
    zefdec_archive *kept;
    int rc;
#if ZEFDEC_FAST
    int whole_lines, tabled;
#endif

    if (!options)
        options = &plain;
    if (!canvas)
        return ZEFDEC_E_ARGUMENT;
    for (paint.kind = canvas_kinds; paint.kind->format != canvas->format; paint.kind++)
        if (paint.kind == &canvas_kinds[sizeof canvas_kinds / sizeof canvas_kinds[0] - 1])
            return ZEFDEC_E_ARGUMENT;
    paint.opacity = options->opacity;
    paint.recolour = options->recolour;
    paint.colour = options->colour & 0xFFFFFFu;
    paint.dither = options->dither;
    paint.shaded = options->opacity != OPAQUE || options->recolour;
    paint.pixels = (uint8_t *)canvas->pixels;
    paint.stride = canvas->stride;
    if (canvas->width && canvas->height) {
        if (!canvas->pixels)
            return ZEFDEC_E_ARGUMENT;
        if (!canvas_fits(paint.kind, canvas))
            return ZEFDEC_E_CANVAS;
    }
    rc = zefdec_begin(&image, archive, position, ZEFDEC_RGB565);
    if (rc != ZEFDEC_OK)
        return rc;
    columns = visible(x, image.width, canvas->width, &first_column, &left);
    lines = visible(y, image.height, canvas->height, &first_line, &top);
    if (!columns || !lines || !options->opacity)
        return ZEFDEC_OK;
    rc = pass_lines(&image, archive, position, first_line);
#if ZEFDEC_FAST
    /* whole lines without alpha onto a canvas whose rows are lines are
     * decoded as zefdec_line decodes them */
    whole_lines = first_column == 0 && columns == image.width && !image.layout.alpha_mask &&
                  paint.kind == canvas_kinds && !paint.shaded;
    if (whole_lines)
        image.format = ZEFDEC_RGB565;
    /* versions 3 and 4 draw through the table onto canvases of whole words */
    tabled = !whole_lines && !paint.kind->put &&
             (image.layout.form == FORM_OPS || image.layout.form == FORM_CODES);
    if (rc == ZEFDEC_OK && tabled) {
        if (archive->reader)
            rc = reading(archive, archive->reader->reading->palette_ready(&image.layout, archive->reader,
                                                                          archive->size));
        if (rc == ZEFDEC_OK && image.layout.form == FORM_OPS)
            table_of_entries(&paint, &image.layout);
        else if (rc == ZEFDEC_OK)
            table_of_codes(&paint, &image.layout);
    }
#endif
    if (!paint.kind->put)
        row = (uint8_t *)canvas->pixels + (size_t)top * canvas->stride + (size_t)left * WORD_BYTES(paint.kind);
    paint.left = left;
    paint.y = top;
#if ZEFDEC_FAST
    if (rc == ZEFDEC_OK && tabled) {
        rc = (image.layout.form == FORM_OPS ? TABLE_LOOP(paint.kind->bytes, ops_2, ops_4)
                                            : TABLE_LOOP(paint.kind->bytes, codes_2, codes_4))(
            &image, row, lines, first_column, columns, &paint);
        lines = 0;
    }
#endif
    for (; rc == ZEFDEC_OK && lines; lines--, paint.y++) {
#if ZEFDEC_FAST
        if (whole_lines) {
            rc = zefdec_line(&image, row, 0, columns);
            row += canvas->stride;
            continue;
        }
#endif
        rc = open_line(&image);
        /* canvases put pixel by pixel take version 4 runs as any others */
        if (rc == ZEFDEC_OK)
            rc = draw_runs(&image, row, first_column, columns, &paint);
        if (rc == ZEFDEC_OK)
            rc = close_line(&image);
        if (row)
            row += canvas->stride;
    }
    /* the draw keeps no more than where it stopped, for the next band */
    kept = (zefdec_archive *)archive;
    kept->drawn_line = rc == ZEFDEC_OK ? image.y : 0;
    kept->drawn_position = position;
    kept->drawn_next = image.next;
    kept->drawn_runs_left = image.runs_left;
    return rc;
}

int zefdec_draw(const zefdec_archive *archive, uint32_t position, const zefdec_canvas *canvas,
                int32_t x, int32_t y)
{
    return zefdec_draw_with(archive, position, canvas, x, y, 0);
}

const char *zefdec_strerror(int result)
{
    /* in the order of the codes, from ZEFDEC_END down, and then the text of
     * any other result: one string, so that no table of pointers is kept */
    static const char texts[] =
        "end of image\0ok\0bad argument\0bad header\0bad version\0bad image table\0"
        "bad palette\0no image marker\0data ends early\0run past line end\0"
        "index past palette\0bad line count\0bad image count\0read failed\0not open\0"
        "no image at that position\0bad canvas\0buffer too small\0call out of order\0"
        "unknown result";
    const char *text = texts;
    unsigned at = (unsigned)(ZEFDEC_END - result);

    if (at > (unsigned)(ZEFDEC_END - ZEFDEC_E_ORDER))
        at = (unsigned)(ZEFDEC_END - ZEFDEC_E_ORDER) + 1;
    for (; at; at--)
        while (*text++)
            ;
    return text;
}

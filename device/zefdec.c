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

/* Markers are byte sequences; they are compared as big-endian numbers. */
#define FILE_SIGNATURE 0xAAFFAAu
#define END_OF_HEADER 0xFFEEDDu
#define IMAGE_SPECIFICATIONS_MARKER 0xBEBAu
#define IMAGE_MARKER 0xAFFEu
#define PALETTE_SPECIFICATIONS_MARKER 0xFAFAu
#define PALETTE_DATA_MARKER 0xFABEu
#define SIGNATURE_SIZE 3
#define MARKER_SIZE 2

#define VERSION_OFFSET 3
#define VERSION_END 5
#define COUNT_OFFSET 5            /* imageCount; in version 1 the width */
#define V1_HEIGHT_OFFSET 9
#define V1_HEADER_BYTES_OFFSET 13
#define HEADER_BYTES_OFFSET 9
#define START_INDEX_OFFSET 16
#define HEADER_SIZE_V2 19
#define HEADER_SIZE_V1_V3 23      /* version 3 adds the u32 startIndex */

#define IMAGE_RECORD_SIZE_V2 14
#define IMAGE_RECORD_SIZE_V3 16
#define RECORD_WIDTH 2
#define RECORD_HEIGHT 6
#define RECORD_PALETTE_INDEX 10   /* version 3 */
#define RECORD_OFFSET_V2 10
#define RECORD_OFFSET_V3 12

#define PALETTE_SPECIFICATIONS_HEAD 6   /* marker + u32 paletteCount */
#define PALETTE_RECORD_SIZE 10
#define PALETTE_RECORD_ENTRIES 2
#define PALETTE_RECORD_OFFSET 6
#define PALETTE_COLOUR_SIZE 2

#define IMAGE_ENTRY_COUNT_SIZE 4
#define LINE_ENTRY_COUNT_SIZE 2
#define CODE_RUN_SIZE 2           /* u8 pixel code + u8 length */
#define WORD_RUN_SIZE 3           /* u16 colour word + u8 length */
#define WORD_SIZE 2

#define ALPHA_POSITION_LOW 1
#define COLOUR_BITS_MASK 0xFFFu
#define NIBBLE_MASK 0xFu
#define WORD_ALPHA_SHIFT_HIGH 12
#define OPAQUE 255u

/* Image data forms. */
enum { FORM_CODES, FORM_WORDS, FORM_RAW };

/* Version 1 archives are accepted only with these first six header bytes. */
static const uint8_t version1_header[6] = {3, 2, 12, 4, 2, 16};

static uint32_t u16_at(const uint8_t *p) { return (uint32_t)p[0] | (uint32_t)p[1] << 8; }

static uint32_t u32_at(const uint8_t *p)
{
    return u16_at(p) | u16_at(p + 2) << 16;
}

static uint32_t bytes_at(const uint8_t *p, unsigned count)
{
    uint32_t value = 0;
    while (count--)
        value = value << 8 | *p++;
    return value;
}

/* pos may lie anywhere, even past the end: offsets come from the file. */
static int marker_at(const uint8_t *data, size_t size, size_t pos, uint32_t marker)
{
    return pos <= size && size - pos >= MARKER_SIZE && bytes_at(data + pos, MARKER_SIZE) == marker;
}

static size_t image_record_size(const zefdec_archive *archive)
{
    return archive->version == 3 ? IMAGE_RECORD_SIZE_V3 : IMAGE_RECORD_SIZE_V2;
}

static const uint8_t *image_record(const zefdec_archive *archive, uint32_t index)
{
    return archive->data + archive->image_records + (size_t)index * image_record_size(archive);
}

static uint32_t image_data_offset(const zefdec_archive *archive, uint32_t index)
{
    return u32_at(image_record(archive, index) +
                  (archive->version == 3 ? RECORD_OFFSET_V3 : RECORD_OFFSET_V2));
}

/* Palette `index`'s colours, or NULL when they do not lie in the archive
 * behind their marker. Checked on every use, not only when opening. */
static const uint8_t *palette_colours(const zefdec_archive *archive, uint32_t index,
                                      uint32_t *entries)
{
    const uint8_t *record =
        archive->data + archive->palette_records + (size_t)index * PALETTE_RECORD_SIZE;
    size_t at = u32_at(record + PALETTE_RECORD_OFFSET);

    *entries = u32_at(record + PALETTE_RECORD_ENTRIES);
    if (!marker_at(archive->data, archive->size, at, PALETTE_DATA_MARKER) ||
        *entries > (archive->size - at - MARKER_SIZE) / PALETTE_COLOUR_SIZE)
        return 0;
    return archive->data + at + MARKER_SIZE;
}

/* Version 3 palette block; returns where the last palette's data ends. */
static int open_palettes(zefdec_archive *archive, size_t *pos)
{
    const uint8_t *data = archive->data;
    size_t size = archive->size;
    uint32_t i;

    if (!marker_at(data, size, *pos, PALETTE_SPECIFICATIONS_MARKER) ||
        size - *pos < PALETTE_SPECIFICATIONS_HEAD)
        return ZEFDEC_E_PALETTE;
    archive->palette_count = u32_at(data + *pos + MARKER_SIZE);
    *pos += PALETTE_SPECIFICATIONS_HEAD;
    if (archive->palette_count > (size - *pos) / PALETTE_RECORD_SIZE)
        return ZEFDEC_E_PALETTE;
    archive->palette_records = *pos;
    *pos += (size_t)archive->palette_count * PALETTE_RECORD_SIZE;
    for (i = 0; i < archive->palette_count; i++) {
        uint32_t entries;
        const uint8_t *colours = palette_colours(archive, i, &entries);
        if (!colours)
            return ZEFDEC_E_PALETTE;
        *pos = (size_t)(colours - data) + (size_t)entries * PALETTE_COLOUR_SIZE;
    }
    return ZEFDEC_OK;
}

/* Header and tables; leaves *pos where the first image must begin. */
static int open_tables(zefdec_archive *archive, size_t *pos)
{
    const uint8_t *data = archive->data;
    size_t size = archive->size;
    const uint8_t *header_bytes;
    uint32_t version, count;
    size_t head;
    unsigned i;

    if (size < VERSION_END || bytes_at(data, SIGNATURE_SIZE) != FILE_SIGNATURE)
        return ZEFDEC_E_HEADER;
    version = u16_at(data + VERSION_OFFSET);
    if (version < 1 || version > 3)
        return ZEFDEC_E_VERSION;
    archive->version = (uint8_t)version;
    head = version == 2 ? HEADER_SIZE_V2 : HEADER_SIZE_V1_V3;
    if (size < head || bytes_at(data + head - SIGNATURE_SIZE, SIGNATURE_SIZE) != END_OF_HEADER)
        return ZEFDEC_E_HEADER;
    count = u32_at(data + COUNT_OFFSET);
    if (count == 0)
        return ZEFDEC_E_HEADER;
    header_bytes = data + (version == 1 ? V1_HEADER_BYTES_OFFSET : HEADER_BYTES_OFFSET);
    archive->alpha_bits = header_bytes[3];
    archive->alpha_mode = header_bytes[4];
    archive->alpha_position = header_bytes[5];
    archive->compressed = header_bytes[6] != 0;
    *pos = head;
    if (version == 1) {
        if (u32_at(data + V1_HEIGHT_OFFSET) == 0)
            return ZEFDEC_E_HEADER;
        for (i = 0; i < sizeof version1_header; i++)
            if (header_bytes[i] != version1_header[i])
                return ZEFDEC_E_HEADER;
        archive->count = 1;
        return ZEFDEC_OK;
    }
    if (version == 3)
        archive->start_index = u32_at(data + START_INDEX_OFFSET);
    if (!marker_at(data, size, head, IMAGE_SPECIFICATIONS_MARKER))
        return ZEFDEC_E_TABLE;
    *pos += MARKER_SIZE;
    if (count > (size - *pos) / image_record_size(archive))
        return ZEFDEC_E_TABLE;
    archive->image_records = *pos;
    archive->count = count;
    *pos += (size_t)count * image_record_size(archive);
    return version == 3 ? open_palettes(archive, pos) : ZEFDEC_OK;
}

int zefdec_open(zefdec_archive *archive, const void *data, size_t size)
{
    size_t pos;
    uint32_t i;
    int rc;

    if (!archive || !data)
        return ZEFDEC_E_ARGUMENT;
    archive->data = (const uint8_t *)data;
    archive->size = size;
    archive->count = 0;
    archive->start_index = 0;
    archive->palette_count = 0;
    archive->image_records = 0;
    archive->palette_records = 0;
    rc = open_tables(archive, &pos);
    for (i = 0; rc == ZEFDEC_OK && i < archive->count; i++) {
        zefdec_image image;
        if (archive->version != 1 && image_data_offset(archive, i) != pos) {
            rc = ZEFDEC_E_MARKER;
            break;
        }
        rc = zefdec_begin(&image, archive, i, ZEFDEC_RGB565);
        if (rc != ZEFDEC_OK)
            break;
        if (image.form == FORM_RAW)
            /* begin has checked that the whole raw image is there */
            image.next += (size_t)image.width * image.height * WORD_SIZE;
        else
            while (rc == ZEFDEC_OK && image.y < image.height)
                rc = zefdec_line(&image, 0, 0, 0);
        pos = (size_t)(image.next - archive->data);
    }
    if (rc != ZEFDEC_OK)
        archive->count = 0;
    return rc;
}

uint32_t zefdec_count(const zefdec_archive *archive)
{
    return archive ? archive->count : 0;
}

static void image_size(const zefdec_archive *archive, uint32_t index, uint32_t *width,
                       uint32_t *height)
{
    const uint8_t *at = archive->version == 1 ? archive->data + COUNT_OFFSET - RECORD_WIDTH
                                              : image_record(archive, index);
    *width = u32_at(at + RECORD_WIDTH);
    *height = u32_at(at + RECORD_HEIGHT);
}

static uint8_t code_alpha_bits(const zefdec_archive *archive)
{
    /* the reader takes any alpha bits byte but 1 as two bits */
    return archive->alpha_bits == 1 ? 1 : 2;
}

int zefdec_info(const zefdec_archive *archive, uint32_t index, zefdec_image_info *info)
{
    if (!archive || !info || index >= archive->count)
        return ZEFDEC_E_ARGUMENT;
    image_size(archive, index, &info->width, &info->height);
    info->number = archive->start_index + index;
    if (archive->version != 3)
        info->alpha_bits = 4;
    else
        info->alpha_bits = archive->alpha_mode ? code_alpha_bits(archive) : 0;
    return ZEFDEC_OK;
}

static void set_code_layout(zefdec_image *image, const zefdec_archive *archive)
{
    uint8_t bits = code_alpha_bits(archive);
    uint8_t low = archive->alpha_position == ALPHA_POSITION_LOW;

    image->index_shift = 0;
    image->index_mask = 0xFF;
    image->alpha_shift = 0;
    image->alpha_mask = 0;
    image->alpha_scale = 0;
    image->alpha_opaque = OPAQUE;
    if (!archive->alpha_mode)
        return;
    image->alpha_mask = (uint8_t)((1u << bits) - 1);
    image->alpha_scale = (uint8_t)(OPAQUE / image->alpha_mask);
    image->alpha_opaque = 0;
    if (low)
        image->index_shift = bits;
    else {
        image->index_mask = (uint8_t)(0xFFu >> bits);
        image->alpha_shift = (uint8_t)(8 - bits);
    }
}

static void set_word_layout(zefdec_image *image, const zefdec_archive *archive)
{
    image->form = archive->compressed ? FORM_WORDS : FORM_RAW;
    image->alpha_shift =
        archive->alpha_position == ALPHA_POSITION_LOW ? 0 : WORD_ALPHA_SHIFT_HIGH;
    image->alpha_mask = NIBBLE_MASK;
    image->alpha_scale = OPAQUE / NIBBLE_MASK;
    image->alpha_opaque = 0;
}

static int begin_image(zefdec_image *image, const zefdec_archive *archive, uint32_t index)
{
    const uint8_t *data = archive->data;
    const uint8_t *record = image_record(archive, index);
    size_t at = HEADER_SIZE_V1_V3;

    image_size(archive, index, &image->width, &image->height);
    image->colour_shift = archive->alpha_position == ALPHA_POSITION_LOW ? 4 : 0;
    if (archive->version != 1) {
        at = image_data_offset(archive, index);
        if (!marker_at(data, archive->size, at, IMAGE_MARKER))
            return ZEFDEC_E_MARKER;
        at += MARKER_SIZE;
    }
    image->next = data + at;
    if (archive->version == 3) {
        uint32_t palette = u16_at(record + RECORD_PALETTE_INDEX);
        if (palette >= archive->palette_count)
            return ZEFDEC_E_TABLE;
        image->palette = palette_colours(archive, palette, &image->palette_size);
        if (!image->palette)
            return ZEFDEC_E_PALETTE;
        image->form = FORM_CODES;
        set_code_layout(image, archive);
    } else
        set_word_layout(image, archive);

    if (image->form == FORM_RAW) {
        /* raw data has no counts: all there is to check is that it is there */
        uint64_t words = (uint64_t)image->width * image->height;
        if (words > (size_t)(image->end - image->next) / WORD_SIZE)
            return ZEFDEC_E_SHORT;
        return ZEFDEC_OK;
    }
    if ((size_t)(image->end - image->next) < IMAGE_ENTRY_COUNT_SIZE)
        return ZEFDEC_E_SHORT;
    image->runs_left = u32_at(image->next);
    image->next += IMAGE_ENTRY_COUNT_SIZE;
    if (image->height == 0 && image->runs_left != 0)
        return ZEFDEC_E_IMAGE_COUNT;
    return ZEFDEC_OK;
}

int zefdec_begin(zefdec_image *image, const zefdec_archive *archive, uint32_t index,
                 zefdec_format format)
{
    int rc;

    if (!image)
        return ZEFDEC_E_ARGUMENT;
    image->error = ZEFDEC_E_ARGUMENT;
    if (!archive || index >= archive->count || (unsigned)format > ZEFDEC_BGR888)
        return ZEFDEC_E_ARGUMENT;
    image->end = archive->data + archive->size;
    image->format = (uint8_t)format;
    image->y = 0;
    image->x = 0;
    image->in_line = 0;
    rc = begin_image(image, archive, index);
    image->error = (int8_t)rc;
    return rc;
}

static int open_line(zefdec_image *image)
{
    image->x = 0;
    image->in_line = 1;
    if (image->form == FORM_RAW)
        return ZEFDEC_OK;
    if ((size_t)(image->end - image->next) < LINE_ENTRY_COUNT_SIZE)
        return ZEFDEC_E_SHORT;
    image->line_runs_left = (uint16_t)u16_at(image->next);
    image->next += LINE_ENTRY_COUNT_SIZE;
    return ZEFDEC_OK;
}

static int close_line(zefdec_image *image)
{
    image->in_line = 0;
    image->y++;
    if (image->form == FORM_RAW)
        return ZEFDEC_OK;
    if (image->line_runs_left != 0)
        return ZEFDEC_E_LINE_COUNT;
    if (image->y == image->height && image->runs_left != 0)
        return ZEFDEC_E_IMAGE_COUNT;
    return ZEFDEC_OK;
}

/* Reads the next run of the current line: its length, 12-bit colour and
 * 8-bit alpha. The line's x has already moved past it on success. */
static int next_run(zefdec_image *image, uint32_t *length, uint32_t *colour, uint32_t *alpha)
{
    const uint8_t *p = image->next;
    size_t room = (size_t)(image->end - p);
    uint32_t stored, value, count;

    if (image->form == FORM_CODES) {
        if (room < CODE_RUN_SIZE)
            return ZEFDEC_E_SHORT;
        stored = p[0];
        count = p[1];
        image->next = p + CODE_RUN_SIZE;
    } else if (image->form == FORM_WORDS) {
        if (room < WORD_RUN_SIZE)
            return ZEFDEC_E_SHORT;
        stored = u16_at(p);
        count = p[2];
        image->next = p + WORD_RUN_SIZE;
    } else {
        if (room < WORD_SIZE)
            return ZEFDEC_E_SHORT;
        stored = u16_at(p);
        count = 1;
        image->next = p + WORD_SIZE;
    }
    image->line_runs_left--;
    image->runs_left--;
    if (count > image->width - image->x)
        return ZEFDEC_E_RUN;
    value = stored;
    if (image->form == FORM_CODES) {
        uint32_t index = (stored >> image->index_shift) & image->index_mask;
        if (index >= image->palette_size)
            return ZEFDEC_E_COLOUR;
        value = u16_at(image->palette + index * PALETTE_COLOUR_SIZE);
    }
    *alpha = ((stored >> image->alpha_shift) & image->alpha_mask) * image->alpha_scale +
             image->alpha_opaque;
    *colour = (value >> image->colour_shift) & COLOUR_BITS_MASK;
    /* the reader blacks out raw pixels that are fully transparent */
    if (image->form == FORM_RAW && *alpha == 0)
        *colour = 0;
    image->x += count;
    *length = count;
    return ZEFDEC_OK;
}

/* Nibble n stands for the 8-bit value n * 16; formats keep its top bits. */
static uint32_t pixel_of(unsigned format, uint32_t colour, uint32_t alpha)
{
    if (format == ZEFDEC_RGB565)
        return (colour & 0xF00) << 4 | (colour & 0x0F0) << 3 | (colour & 0x00F) << 1;
    if (format == ZEFDEC_ARGB4444)
        return (alpha >> 4) << 12 | colour;
    return (colour & 0x00F) << 4 | (colour & 0x0F0) << 8 | (colour & 0xF00) << 12;
}

static void fill_pixels(void *line, unsigned format, uint32_t x, uint32_t count, uint32_t pixel)
{
    if (format == ZEFDEC_BGR888) {
        uint8_t *out = (uint8_t *)line + (size_t)x * 3;
        uint8_t blue = (uint8_t)pixel, green = (uint8_t)(pixel >> 8), red = (uint8_t)(pixel >> 16);
        for (; count; count--, out += 3) {
            out[0] = blue;
            out[1] = green;
            out[2] = red;
        }
    } else {
        uint16_t *out = (uint16_t *)line + x;
        while (count--)
            *out++ = (uint16_t)pixel;
    }
}

int zefdec_line(zefdec_image *image, void *line, uint8_t *alpha, uint32_t room)
{
    uint32_t length, colour, opacity;
    int rc;

    if (!image)
        return ZEFDEC_E_ARGUMENT;
    if (image->error)
        return image->error;
    if (image->in_line || image->y >= image->height || ((line || alpha) && room < image->width))
        return ZEFDEC_E_ARGUMENT;
    rc = open_line(image);
    while (rc == ZEFDEC_OK && image->x < image->width) {
        rc = next_run(image, &length, &colour, &opacity);
        if (rc != ZEFDEC_OK)
            break;
        if (line)
            fill_pixels(line, image->format, image->x - length, length,
                        pixel_of(image->format, colour, opacity));
        if (alpha) {
            uint8_t *out = alpha + image->x - length;
            while (length--)
                *out++ = (uint8_t)opacity;
        }
    }
    if (rc == ZEFDEC_OK)
        rc = close_line(image);
    image->error = (int8_t)rc;
    return rc;
}

int zefdec_next_span(zefdec_image *image, zefdec_span *span)
{
    uint32_t length, colour, opacity;
    int rc;

    if (!image || !span)
        return ZEFDEC_E_ARGUMENT;
    for (rc = image->error; rc == ZEFDEC_OK;) {
        if (!image->in_line) {
            if (image->y >= image->height)
                return ZEFDEC_END;
            rc = open_line(image);
        } else if (image->x < image->width) {
            rc = next_run(image, &length, &colour, &opacity);
            if (rc == ZEFDEC_OK && length) {
                span->x = image->x - length;
                span->y = image->y;
                span->length = length;
                span->colour = (uint16_t)colour;
                span->alpha = (uint8_t)opacity;
                span->pixel = pixel_of(image->format, colour, opacity);
                return ZEFDEC_OK;
            }
        } else
            rc = close_line(image);
    }
    image->error = (int8_t)rc;
    return rc;
}

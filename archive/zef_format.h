/*
 * zef_format.h: the byte layout of the .zef image archive, once, for every
 * program that reads or writes it: the C++ library (archive/ZefFormat.h
 * takes its values from here) and the C99 firmware decoder, which is
 * shipped with a copy of this file beside it. Plain C99 preprocessor
 * definitions, so that any C or C++ compiler takes it.
 *
 * All multi-byte integers are unsigned little-endian and may sit at any
 * offset, odd ones included.
 *
 *  version 1 (read only)           version 2                      version 3
 *  AA FF AA  signature             AA FF AA                       AA FF AA
 *  u16 version = 1                 u16 version = 2                u16 version = 3
 *  u32 width, u32 height           u32 imageCount                 u32 imageCount
 *  7 header bytes                  7 header bytes                 7 header bytes
 *                                                                 u32 startIndex
 *  FF EE DD  end of header         FF EE DD                       FF EE DD
 *  image data                      BE BA + 14-byte records        BE BA + 16-byte records
 *                                  per image: AF FE, image data   FA FA u32 paletteCount
 *                                                                  + 10-byte palette records
 *                                                                 per palette: FA BE, u16 colours
 *                                                                 per image: AF FE, image data
 *
 * Image data: raw u16 colour words (compression flag 0, versions 1/2), or
 * run-length: u32 image entry count, then per line a u16 line entry count
 * and its runs (u16 colour word + u8 length, or u8 pixel code + u8 length).
 *
 *  version 4: the header and 14-byte image records of version 2 with the
 *  startIndex of version 3 (header bytes written 4, 1, 8, 8, 1, 16, 1 and
 *  ignored by readers); no palette block. Each image carries its palette:
 *    AF FE, u8 indexBits (1..8), u8 lastEntry (entryCount - 1),
 *    entryCount entries of R, G, B, A (8 bits each, stored as shown),
 *    then height lines of ops whose pixels add up to the width:
 *      0x00..0x7F  literal of c + 1 indices, packed big-endian at indexBits
 *                  each into ceil(n * indexBits / 8) bytes
 *      0x80..0xBF  run of (c & 0x3F) + 1 pixels of the index in the next byte
 *      0xC0..0xFF  run of (c & 0x3F) + 1 pixels of entry 0
 *  No state crosses a line: each is decoded from a forward read alone.
 */
#ifndef ZEF_FORMAT_H
#define ZEF_FORMAT_H

/* Markers are byte sequences, written here as one big-endian number: the
 * first byte in the file is the number's highest. */
#define ZEF_FILE_SIGNATURE 0xAAFFAAu
#define ZEF_END_OF_HEADER 0xFFEEDDu
#define ZEF_SIGNATURE_SIZE 3      /* both three-byte markers */
#define ZEF_IMAGE_SPECIFICATIONS_MARKER 0xBEBAu
#define ZEF_IMAGE_MARKER 0xAFFEu
#define ZEF_PALETTE_SPECIFICATIONS_MARKER 0xFAFAu
#define ZEF_PALETTE_DATA_MARKER 0xFABEu
#define ZEF_MARKER_SIZE 2         /* every other marker */

#define ZEF_VERSION_1 1
#define ZEF_VERSION_2 2
#define ZEF_VERSION_3 3
#define ZEF_VERSION_4 4

/* The header, from the start of the file. */
#define ZEF_VERSION_AT 3
#define ZEF_IMAGE_COUNT_AT 5      /* version 1: the width */
#define ZEF_V1_HEIGHT_AT 9
#define ZEF_V1_HEADER_BYTES_AT 13
#define ZEF_HEADER_BYTES_AT 9     /* versions 2 and 3 */
#define ZEF_START_INDEX_AT 16     /* version 3 */
#define ZEF_HEADER_SIZE_V1 23     /* up to the single image's data */
#define ZEF_HEADER_SIZE_V2 19
#define ZEF_HEADER_SIZE_V3 23     /* adds the u32 startIndex */
#define ZEF_HEADER_SIZE_V4 23     /* as version 3 */

/* The seven header bytes, in file order; the same in every version. */
#define ZEF_HEADER_BYTE_COUNT 7
#define ZEF_HEADER_CHANNEL_COUNT 0
#define ZEF_HEADER_VALUE_SIZE 1
#define ZEF_HEADER_COLOUR_BITS 2
#define ZEF_HEADER_ALPHA_BITS 3
#define ZEF_HEADER_ALPHA_MODE 4
#define ZEF_HEADER_ALPHA_POSITION 5
#define ZEF_HEADER_COMPRESSION 6
/* Version 1 archives are accepted only with these header bytes; the last,
 * the compression flag, may be either. */
#define ZEF_VERSION1_HEADER_BYTES 3, 2, 12, 4, 2, 16, 0
#define ZEF_VERSION1_FIXED_BYTES 6

/* Image records: u16 imageNumber, u32 width, u32 height, then version 2
 * u32 dataOffset, version 3 u16 paletteIndex and u32 dataOffset. */
#define ZEF_IMAGE_RECORD_SIZE_V2 14
#define ZEF_IMAGE_RECORD_SIZE_V3 16
#define ZEF_RECORD_WIDTH_AT 2
#define ZEF_RECORD_HEIGHT_AT 6
#define ZEF_RECORD_DATA_OFFSET_AT_V2 10
#define ZEF_RECORD_PALETTE_INDEX_AT_V3 10
#define ZEF_RECORD_DATA_OFFSET_AT_V3 12
/* Version 4 records are laid out as version 2's. */
#define ZEF_IMAGE_RECORD_SIZE_V4 14
#define ZEF_RECORD_DATA_OFFSET_AT_V4 10

/* Palette block (version 3): marker and u32 paletteCount, then records of
 * u16 paletteNumber, u32 entryCount, u32 dataOffset. */
#define ZEF_PALETTE_SPECIFICATIONS_HEAD 6
#define ZEF_PALETTE_RECORD_SIZE 10
#define ZEF_PALETTE_RECORD_ENTRY_COUNT_AT 2
#define ZEF_PALETTE_RECORD_DATA_OFFSET_AT 6
#define ZEF_PALETTE_COLOUR_SIZE 2

/* Image data. */
#define ZEF_IMAGE_ENTRY_COUNT_SIZE 4
#define ZEF_LINE_ENTRY_COUNT_SIZE 2
#define ZEF_PIXEL_CODE_RUN_SIZE 2   /* u8 code + u8 length */
#define ZEF_COLOUR_WORD_RUN_SIZE 3  /* u16 word + u8 length */
#define ZEF_COLOUR_WORD_SIZE 2      /* raw data: one per pixel; in a run, where the length is */
/* Runs are cut at this length because the run length is one byte. */
#define ZEF_MAX_RUN_LENGTH 255

/* Stored colours. A palette colour or colour word is a u16 holding three
 * 4-bit channels, red highest, and 4 alpha bits: at the low end when the
 * alpha position is ZEF_ALPHA_POSITION_LOW (0xRGBA), at the high end for
 * every other value (0xARGB; the writer writes ZEF_ALPHA_POSITION_HIGH).
 * Palette colours carry no alpha, but are shifted alike. */
#define ZEF_ALPHA_POSITION_LOW 1
#define ZEF_ALPHA_POSITION_HIGH 16
#define ZEF_COLOUR_BITS 12
#define ZEF_COLOUR_MASK 0x0FFFu
#define ZEF_WORD_ALPHA_BITS 4
#define ZEF_WORD_ALPHA_SHIFT_HIGH 12

/* A pixel code (version 3) is one byte: a palette index and, when the
 * alpha mode is not ZEF_ALPHA_MODE_NONE, an alpha code of 1 bit (alpha
 * bits byte 1) or 2 bits (any other value), at the high or low end as the
 * alpha position says. An alpha code of all ones is opaque. */
#define ZEF_PIXEL_CODE_BITS 8
#define ZEF_ALPHA_MODE_NONE 0
#define ZEF_ALPHA_MODE_GRADED 1     /* the mask's top bits */
#define ZEF_ALPHA_MODE_TWO_LEVEL 2  /* all ones from mask byte 64 up */
#define ZEF_TWO_LEVEL_THRESHOLD 64

/* Limits of the layout. A line can hold as many runs as pixels, and its
 * run count is a u16; 65535 stays free so that a count can never be
 * mistaken for a wrapped one. */
#define ZEF_MAX_IMAGE_WIDTH 65534
/* Version 3 stores paletteIndex as a u16 and writes one palette per image. */
#define ZEF_MAX_IMAGES_V3 65536
/* Version 4 keeps the bound of version 3, so that image numbers and tools
 * that list archives see the same range. */
#define ZEF_MAX_IMAGES_V4 65536

/* Version 4 image blocks: the two bytes after the image marker, the
 * palette entries and the op bytes of a line. */
#define ZEF_V4_IMAGE_HEAD 2       /* u8 indexBits, u8 lastEntry */
#define ZEF_V4_ENTRY_SIZE 4       /* R, G, B, A */
#define ZEF_V4_MAX_ENTRIES 256    /* lastEntry is one byte */
#define ZEF_V4_MAX_INDEX_BITS 8
#define ZEF_V4_LITERAL_MAX 128    /* op bytes 0x00..0x7F */
#define ZEF_V4_RUN_MAX 64         /* the low six bits of a run op */
#define ZEF_V4_OP_RUN 0x80        /* + n - 1, then the index byte */
#define ZEF_V4_OP_RUN_ZERO 0xC0   /* + n - 1: a run of entry 0 */
#define ZEF_V4_RUN_LENGTH_MASK 0x3F
/* The fewest bytes a line can take: one run of entry 0 per 64 pixels. */
#define ZEF_V4_PIXELS_PER_LEAST_BYTE ZEF_V4_RUN_MAX

/* The archive id that generated headers define and zefdec_archive_id
 * gives (docs/format.md, "Archive id"): the CRC-32 of zlib and PNG,
 * reflected, over u32 imageCount, u32 startIndex (0 below version 3), then
 * per image in position order u32 width, u32 height, u8 alphaBits (0, 1
 * or 2 in version 3, 4 in versions 1 and 2, 8 in version 4). */
#define ZEF_ARCHIVE_ID_POLYNOMIAL 0xEDB88320u
#define ZEF_ARCHIVE_ID_SEED 0xFFFFFFFFu   /* the initial value and the final xor */

#endif /* ZEF_FORMAT_H */

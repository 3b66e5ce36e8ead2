/* The layout of the picture sets that make_sets.cpp writes on the host and
 * target_bench.c reads on the target (linked in whole by sets.S): plain
 * 32-bit fields, so that both see the same bytes. Offsets count from the
 * start of the blob; every block starts on 4 bytes. */
#ifndef ZEF_TARGET_SETS_H
#define ZEF_TARGET_SETS_H

#include <stdint.h>

#define BENCH_SETS_MAGIC 0x5A544231u /* "ZTB1" */
#define BENCH_SET_COUNT 3            /* icons, sprites, and one tall picture for bands */

struct bench_picture {
    uint32_t width, height;
    uint32_t plane;    /* RGB565A8: width x height little-endian RGB565, then as many alpha bytes */
    uint32_t lz4;      /* LZ4 of that plane */
    uint32_t lz4_size;
};

struct bench_set {
    char name[16];
    uint32_t count;
    uint32_t pictures; /* count struct bench_picture */
    uint32_t version3, version3_size; /* as zef pack packs the pictures */
    uint32_t version4, version4_size; /* as the library writes them at the default quality */
};

struct bench_sets {
    uint32_t magic;
    uint32_t set_count;
    struct bench_set sets[BENCH_SET_COUNT];
};

#endif

/* The archives drawn by target_draw.c, generated on the host by
 * make_archives.cpp into a C file that both builds of the program
 * compile. */
#ifndef ZEF_TARGET_ARCHIVES_H
#define ZEF_TARGET_ARCHIVES_H

#include <stdint.h>

struct target_archive {
    const char *name;
    const uint8_t *bytes;
    uint32_t size;
};

extern const struct target_archive target_archives[];
extern const uint32_t target_archive_count;

#endif

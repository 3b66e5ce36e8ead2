/* A firmware file compiled with another ZEFDEC_WINDOW_SIZE than the
 * decoder's (the build gives both it and OTHER_WINDOW_OPEN, the name of
 * its one function). Its reader sits between two guards of known bytes, so
 * that any write of the decoder into or past it shows. */
#include "zefdec.h"

#include <string.h>

#define GUARD_BYTE 0xA5

typedef struct source {
    const uint8_t *bytes;
    size_t size;
    unsigned calls;
} source;

static int read_bytes(void *user, uint32_t offset, void *buffer, uint32_t length)
{
    source *s = (source *)user;

    s->calls++;
    if (offset > s->size || length > s->size - offset)
        return -1;
    memcpy(buffer, s->bytes + offset, length);
    return 0;
}

/* Opens the archive through this file's reader and draws its first image.
 * Gives the open's result, the draw's, this file's window, whether the
 * callback was ever called and whether the reader and the guards still
 * hold only their fill. */
int OTHER_WINDOW_OPEN(const uint8_t *bytes, size_t size, int *draw_result, size_t *window,
                      int *called, int *untouched)
{
    static struct {
        uint8_t before[64];
        zefdec_reader reader;
        uint8_t after[ZEFDEC_PALETTE_ROOM + 64];
    } ram;
    static uint16_t pixels[16 * 16];
    const zefdec_canvas canvas = {pixels, 16, 16, 32, ZEFDEC_CANVAS_RGB565};
    source s;
    zefdec_archive archive;
    const uint8_t *p = (const uint8_t *)&ram;
    size_t i;
    int rc;

    s.bytes = bytes;
    s.size = size;
    s.calls = 0;
    memset(&ram, GUARD_BYTE, sizeof ram);
    rc = zefdec_open_reader(&archive, &ram.reader, read_bytes, &s, size, 0);
    *draw_result = zefdec_draw(&archive, 0, &canvas, 0, 0);
    *window = ZEFDEC_WINDOW_SIZE;
    *called = s.calls != 0;
    *untouched = 1;
    for (i = 0; i < sizeof ram; i++)
        if (p[i] != GUARD_BYTE)
            *untouched = 0;
    return rc;
}

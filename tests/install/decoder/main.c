/* Decodes the archive the C++ consumer wrote (one 2 x 2 image of blue 0,
 * green 128, red 255) and checks its pixels, in memory and through a read
 * callback, whose reader this file and the decoder must agree on. A second
 * argument is the window this file must have been compiled with; a third,
 * "xrgb", says that the decoder draws on XRGB8888, which without it is
 * refused as a canvas not compiled in, as RGB565_SWAPPED is in both. */
#include <zefdec.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static unsigned char bytes[4096];

static int read_bytes(void *user, uint32_t offset, void *buffer, uint32_t length)
{
    (void)user;
    memcpy(buffer, bytes + offset, length);
    return 0;
}

static int check_pixels(const zefdec_archive *archive)
{
    zefdec_image image;
    uint8_t line[2 * 3];
    int y, x;

    if (zefdec_begin(&image, archive, 0, ZEFDEC_BGR888) != ZEFDEC_OK)
        return 0;
    for (y = 0; y < 2; y++) {
        if (zefdec_line(&image, line, NULL, 2) != ZEFDEC_OK) {
            puts("a line did not decode");
            return 0;
        }
        for (x = 0; x < 2; x++)
            if (line[3 * x] != 0x00 || line[3 * x + 1] != 0x80 || line[3 * x + 2] != 0xF0) {
                printf("pixel %d,%d is %02X %02X %02X\n", x, y, line[3 * x], line[3 * x + 1],
                       line[3 * x + 2]);
                return 0;
            }
    }
    return 1;
}

int main(int argc, char **argv)
{
    static zefdec_reader reader;
    zefdec_archive archive;
    size_t size;
    FILE *file;

    if (argc < 2 || (file = fopen(argv[1], "rb")) == NULL)
        return 2;
    size = fread(bytes, 1, sizeof bytes, file);
    fclose(file);
    if (argc > 2 && strtol(argv[2], NULL, 10) != ZEFDEC_WINDOW_SIZE) {
        printf("compiled with a window of %d bytes, not %s\n", ZEFDEC_WINDOW_SIZE, argv[2]);
        return 1;
    }
    if (zefdec_open(&archive, bytes, size) != ZEFDEC_OK || !check_pixels(&archive)) {
        puts("the archive in memory did not decode");
        return 1;
    }
    if (zefdec_open_reader(&archive, &reader, read_bytes, NULL, size, 0) != ZEFDEC_OK ||
        !check_pixels(&archive)) {
        puts("the archive behind the callback did not decode");
        return 1;
    }
    {
        uint32_t pixels[2][2] = {{0}};
        const zefdec_canvas canvas = {pixels, 2, 2, sizeof pixels[0], ZEFDEC_CANVAS_XRGB8888};
        const int drawn = zefdec_draw(&archive, 0, &canvas, 0, 0);
        const int with_xrgb = argc > 3 && strcmp(argv[3], "xrgb") == 0;
        if (drawn != (with_xrgb ? ZEFDEC_OK : ZEFDEC_E_ARGUMENT) ||
            (with_xrgb && pixels[1][1] != 0xF08000u)) {
            printf("an XRGB8888 draw gave %s and pixel %08lX\n", zefdec_strerror(drawn),
                   (unsigned long)pixels[1][1]);
            return 1;
        }
    }
    {
        /* compiled in by neither build */
        uint16_t pixels[2][2] = {{0}};
        const zefdec_canvas canvas = {pixels, 2, 2, sizeof pixels[0], ZEFDEC_CANVAS_RGB565_SWAPPED};
        if (zefdec_draw(&archive, 0, &canvas, 0, 0) != ZEFDEC_E_ARGUMENT || pixels[0][0] != 0) {
            puts("an RGB565_SWAPPED draw was not refused");
            return 1;
        }
    }
    return 0;
}

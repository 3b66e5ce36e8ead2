/* Decodes the archive the C++ consumer wrote (one 2 x 2 image of blue 0,
 * green 128, red 255) and checks its pixels. */
#include <zefdec.h>

#include <stdio.h>

int main(int argc, char **argv)
{
    static unsigned char bytes[4096];
    zefdec_archive archive;
    zefdec_image image;
    uint8_t line[2 * 3];
    size_t size;
    FILE *file;
    int y, x;

    if (argc < 2 || (file = fopen(argv[1], "rb")) == NULL)
        return 2;
    size = fread(bytes, 1, sizeof bytes, file);
    fclose(file);
    if (zefdec_open(&archive, bytes, size) != ZEFDEC_OK ||
        zefdec_begin(&image, &archive, 0, ZEFDEC_BGR888) != ZEFDEC_OK) {
        puts("the decoder refused the archive");
        return 1;
    }
    for (y = 0; y < 2; y++) {
        if (zefdec_line(&image, line, NULL, 2) != ZEFDEC_OK) {
            puts("a line did not decode");
            return 1;
        }
        for (x = 0; x < 2; x++)
            if (line[3 * x] != 0x00 || line[3 * x + 1] != 0x80 || line[3 * x + 2] != 0xF0) {
                printf("pixel %d,%d is %02X %02X %02X\n", x, y, line[3 * x], line[3 * x + 1],
                       line[3 * x + 2]);
                return 1;
            }
    }
    return 0;
}

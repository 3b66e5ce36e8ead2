/* Draws the first image of an archive in flash, line by line. */
#include <zefdec.h>

extern const uint8_t sprites_zef[];
extern const size_t sprites_zef_size;
void lcd_write(uint32_t y, const uint16_t *line, uint32_t width);

int draw_first_sprite(void)
{
    static uint16_t line[320];
    zefdec_archive archive;
    zefdec_image image;
    uint32_t y = 0;

    if (zefdec_open(&archive, sprites_zef, sprites_zef_size) != ZEFDEC_OK ||
        zefdec_begin(&image, &archive, 0, ZEFDEC_RGB565) != ZEFDEC_OK)
        return -1;
    while (zefdec_line(&image, line, 0, 320) == ZEFDEC_OK)
        lcd_write(y++, line, 320);
    return 0;
}

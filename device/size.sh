#!/bin/sh
# Prints the Cortex-M4 code size of what firmware links in when it opens an
# archive and decodes lines to RGB565, and when it opens an archive and
# draws images onto an RGB565 framebuffer, from memory and through a read
# callback: zefdec built with -Os and section garbage collection, linked
# into a minimal caller. Fails when the drawing firmware's text (from
# memory) or the whole library passes its budget.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
# the format's C header, which an installed decoder has beside it
format="$here/../archive"
draw_budget=3584    # 3.5 KB: open + draw RGB565, versions 1 to 4
library_budget=4608 # 4.5 KB: every function
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

cat > "$work/lines.c" <<'USE'
#include "zefdec.h"

/* Where the archive sits and where lines go; volatile so nothing folds. */
const uint8_t *volatile archive_in_flash;
volatile size_t archive_size;
uint16_t *volatile display_line;

void use(void)
{
    static uint16_t line[320];
    zefdec_archive archive;
    zefdec_image image;

    if (zefdec_open(&archive, archive_in_flash, archive_size) != ZEFDEC_OK ||
        zefdec_begin(&image, &archive, 0, ZEFDEC_RGB565) != ZEFDEC_OK)
        return;
    while (zefdec_line(&image, line, 0, 320) == ZEFDEC_OK)
        display_line = line;
}
USE

cat > "$work/draw.c" <<'USE'
#include "zefdec.h"

const uint8_t *volatile archive_in_flash;
volatile size_t archive_size;
volatile int32_t sprite_x, sprite_y;

void use(void)
{
    static uint16_t framebuffer[240][320];
    zefdec_canvas screen = {framebuffer, 320, 240, sizeof framebuffer[0], ZEFDEC_CANVAS_RGB565};
    zefdec_archive archive;
    uint32_t i;

    if (zefdec_open(&archive, archive_in_flash, archive_size) != ZEFDEC_OK)
        return;
    for (i = 0; i < zefdec_count(&archive); i++)
        zefdec_draw(&archive, i, &screen, sprite_x, sprite_y);
}
USE

cat > "$work/flash.c" <<'USE'
#include "zefdec.h"

/* The archive in SPI flash that is not memory-mapped. */
extern int spi_flash_read(void *user, uint32_t offset, void *buffer, uint32_t length);
volatile size_t archive_size;
volatile int32_t sprite_x, sprite_y;

void use(void)
{
    static uint16_t framebuffer[240][320];
    static zefdec_reader reader;
    zefdec_canvas screen = {framebuffer, 320, 240, sizeof framebuffer[0], ZEFDEC_CANVAS_RGB565};
    zefdec_archive archive;
    uint32_t i;

    if (zefdec_open_reader(&archive, &reader, spi_flash_read, 0, archive_size, 0) != ZEFDEC_OK)
        return;
    for (i = 0; i < zefdec_count(&archive); i++)
        zefdec_draw(&archive, i, &screen, sprite_x, sprite_y);
}

int spi_flash_read(void *user, uint32_t offset, void *buffer, uint32_t length)
{
    (void)user; (void)offset; (void)buffer; (void)length;
    return 0;
}
USE

flags="-std=c99 -Wall -Wextra -Werror -pedantic -mcpu=cortex-m4 -mthumb -Os -ffunction-sections -fdata-sections"
arm-none-eabi-gcc $flags -I"$here" -I"$format" -c "$here/zefdec.c" -o "$work/zefdec.o"
for caller in lines draw flash; do
  arm-none-eabi-gcc $flags -I"$here" -c "$work/$caller.c" -o "$work/$caller.o"
  arm-none-eabi-gcc -mcpu=cortex-m4 -mthumb -nostartfiles --specs=nano.specs -Wl,--gc-sections -Wl,-e,use \
      "$work/$caller.o" "$work/zefdec.o" -o "$work/$caller.elf"
done

echo "open + line decode to RGB565, linked (arm-none-eabi-size):"
arm-none-eabi-size "$work/lines.elf"
echo "of which the caller itself:"
arm-none-eabi-size "$work/lines.o" | tail -n 1
echo "open + draw to an RGB565 canvas, linked:"
arm-none-eabi-size "$work/draw.elf"
echo "of which the caller itself:"
arm-none-eabi-size "$work/draw.o" | tail -n 1
echo "open through a read callback + draw to an RGB565 canvas, linked:"
arm-none-eabi-size "$work/flash.elf"
echo "of which the caller itself (and its empty read function):"
arm-none-eabi-size "$work/flash.o" | tail -n 1
echo "whole library, every function:"
arm-none-eabi-size "$work/zefdec.o" | tail -n 1

# The table of README.md: open + draw from memory, per core and optimisation.
echo "open + draw from memory, text bytes:"
printf '%-14s %6s %6s\n' core -Os -O2
for cpu in cortex-m0plus cortex-m4; do
  row=$cpu
  for level in -Os -O2; do
    table_flags="-std=c99 -mcpu=$cpu -mthumb $level -ffunction-sections -fdata-sections"
    arm-none-eabi-gcc $table_flags -I"$here" -I"$format" -c "$here/zefdec.c" -o "$work/table.o"
    arm-none-eabi-gcc $table_flags -I"$here" -c "$work/draw.c" -o "$work/table_draw.o"
    arm-none-eabi-gcc -mcpu=$cpu -mthumb -nostartfiles --specs=nano.specs -Wl,--gc-sections -Wl,-e,use \
        "$work/table_draw.o" "$work/table.o" -o "$work/table.elf"
    row="$row $(arm-none-eabi-size "$work/table.elf" | awk 'NR == 2 { print $1 }')"
  done
  printf '%-14s %6s %6s\n' $row
done

draw_text=$(arm-none-eabi-size "$work/draw.elf" | awk 'NR == 2 { print $1 }')
if [ "$draw_text" -gt "$draw_budget" ]; then
  echo "open + draw is $draw_text bytes of text, more than $draw_budget" >&2
  exit 1
fi
library_text=$(arm-none-eabi-size "$work/zefdec.o" | awk 'NR == 2 { print $1 }')
if [ "$library_text" -gt "$library_budget" ]; then
  echo "the whole library is $library_text bytes of text, more than $library_budget" >&2
  exit 1
fi

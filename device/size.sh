#!/bin/sh
# Prints the Cortex-M4 code size of what firmware that opens an archive and
# decodes lines to RGB565 links in: zefdec built with -Os and section
# garbage collection, linked into a minimal caller.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
# the format's C header, which an installed decoder has beside it
format="$here/../archive"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

cat > "$work/use.c" <<'USE'
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

flags="-std=c99 -Wall -Wextra -Werror -pedantic -mcpu=cortex-m4 -mthumb -Os -ffunction-sections -fdata-sections"
arm-none-eabi-gcc $flags -I"$here" -I"$format" -c "$here/zefdec.c" -o "$work/zefdec.o"
arm-none-eabi-gcc $flags -I"$here" -I"$format" -c "$work/use.c" -o "$work/use.o"
arm-none-eabi-gcc -mcpu=cortex-m4 -mthumb -nostartfiles --specs=nano.specs -Wl,--gc-sections -Wl,-e,use \
    "$work/use.o" "$work/zefdec.o" -o "$work/use.elf"
arm-none-eabi-gcc $flags -I"$here" -I"$format" -c "$here/zefdec.c" -o "$work/all.o"

echo "open + line decode to RGB565, linked (arm-none-eabi-size):"
arm-none-eabi-size "$work/use.elf"
echo "of which the caller itself:"
arm-none-eabi-size "$work/use.o" | tail -n 1
echo "whole library, every function:"
arm-none-eabi-size "$work/all.o" | tail -n 1

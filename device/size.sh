#!/bin/sh
# Prints the Cortex-M4 code size of what firmware links in, the decoder built
# as by default (ZEFDEC_FAST adds a column of its own), when it opens an
# archive and decodes lines to RGB565, and when it opens an archive and
# draws images onto an RGB565 framebuffer, from memory and through a read
# callback: zefdec built with -Os and section garbage collection, linked
# into a minimal caller; then what each canvas that ZEFDEC_CANVASES adds
# costs over that draw when it is compiled in. Fails when the drawing
# firmware's text (from memory), the whole library or a canvas passes its
# budget.
#   device/size.sh [--write FILE]
# With --write, the tables also replace what stands between the lines
# <!-- size.sh --> and <!-- /size.sh --> of FILE (docs/firmware.md), so that
# the guide's figures are the ones measured last; a budget passed is then
# written beside its figure instead of failing, as the guide must show what
# the code measures.
set -eu
docs=
if [ "${1:-}" = --write ] && [ -n "${2:-}" ]; then
  docs=$2
elif [ $# -gt 0 ]; then
  echo "usage: device/size.sh [--write FILE]" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
# the format's C header, which an installed decoder has beside it
format="$here/../archive"
draw_budget=3584    # 3.5 KB: open + draw RGB565, versions 1 to 4
library_budget=4608 # 4.5 KB: every function
canvas_budget=400   # each canvas that ZEFDEC_CANVASES adds
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

# Open + draw from memory, per core and optimisation, as built by default
# and with ZEFDEC_FAST.
echo "open + draw from memory, text bytes:"
printf '%-14s %6s %6s %8s %8s\n' core -Os -O2 "-Os fast" "-O2 fast"
rows=
for cpu in cortex-m0plus cortex-m4; do
  row=$cpu
  for level in -Os -O2 "-Os -DZEFDEC_FAST=1" "-O2 -DZEFDEC_FAST=1"; do
    table_flags="-std=c99 -mcpu=$cpu -mthumb $level -ffunction-sections -fdata-sections"
    arm-none-eabi-gcc $table_flags -I"$here" -I"$format" -c "$here/zefdec.c" -o "$work/table.o"
    arm-none-eabi-gcc $table_flags -I"$here" -c "$work/draw.c" -o "$work/table_draw.o"
    arm-none-eabi-gcc -mcpu=$cpu -mthumb -nostartfiles --specs=nano.specs -Wl,--gc-sections -Wl,-e,use \
        "$work/table_draw.o" "$work/table.o" -o "$work/table.elf"
    row="$row $(arm-none-eabi-size "$work/table.elf" | awk 'NR == 2 { print $1 }')"
  done
  printf '%-14s %6s %6s %8s %8s\n' $row
  rows="$rows$row
"
done

# Each added canvas: zefdec built with it (and the default ones), drawn
# onto by the same caller with options, against the default draw.
default_text=$(arm-none-eabi-size "$work/draw.elf" | awk 'NR == 2 { print $1 }')
over=""
canvas_rows=""
echo "each canvas compiled in (ZEFDEC_CANVASES), text bytes added to open + draw:"
for canvas in RGB565_SWAPPED XRGB8888 BGR565 RGB888 ARGB8888 L8 L4 L2 L1 L1_PAGES; do
  sed "s/ZEFDEC_CANVAS_RGB565}/ZEFDEC_CANVAS_$canvas}/; s/zefdec_draw(&archive, i, &screen, sprite_x, sprite_y)/zefdec_draw_with(\&archive, i, \&screen, sprite_x, sprite_y, \&options)/; s/^void use(void)/zefdec_draw_options options = ZEFDEC_DRAW_OPTIONS_DEFAULT;\n&/" \
      "$work/draw.c" > "$work/canvas.c"
  arm-none-eabi-gcc $flags -DZEFDEC_CANVASES="(ZEFDEC_WITH_RGB565|ZEFDEC_WITH_$canvas)" -I"$here" -I"$format" \
      -c "$here/zefdec.c" -o "$work/canvas_zefdec.o"
  arm-none-eabi-gcc $flags -I"$here" -c "$work/canvas.c" -o "$work/canvas.o"
  arm-none-eabi-gcc -mcpu=cortex-m4 -mthumb -nostartfiles --specs=nano.specs -Wl,--gc-sections -Wl,-e,use \
      "$work/canvas.o" "$work/canvas_zefdec.o" -o "$work/canvas.elf"
  added=$(( $(arm-none-eabi-size "$work/canvas.elf" | awk 'NR == 2 { print $1 }') - default_text ))
  printf '%-10s %6s\n' "$canvas" "$added"
  canvas_rows="$canvas_rows$canvas $added
"
  [ "$added" -le "$canvas_budget" ] || over="$over $canvas"
done

text() { arm-none-eabi-size "$1" | awk 'NR == 2 { print $1 }'; }
beyond() { [ "$(text "$1")" -le "$2" ] || echo ", over budget"; }
if [ -n "$docs" ]; then
  {
    echo "Text bytes as \`device/size.sh\` measures them: \`arm-none-eabi-gcc\`"
    echo "$(arm-none-eabi-gcc -dumpversion), Thumb, \`-ffunction-sections -fdata-sections\`, the decoder"
    echo "linked with section garbage collection into a minimal caller."
    echo
    echo "| firmware that | Cortex-M4, -Os |"
    echo "|---|---:|"
    echo "| opens an archive in memory and decodes lines to RGB565 | $(text "$work/lines.elf") |"
    echo "| opens an archive in memory and draws onto RGB565 (budget $draw_budget) | $(text "$work/draw.elf")$(beyond "$work/draw.elf" "$draw_budget") |"
    echo "| opens an archive through a read callback and draws onto RGB565 | $(text "$work/flash.elf") |"
    echo "| links every function of the library (budget $library_budget) | $(text "$work/zefdec.o")$(beyond "$work/zefdec.o" "$library_budget") |"
    echo
    echo "| opens in memory and draws | -Os (the default) | -O2 | -Os, \`ZEFDEC_FAST\` | -O2, \`ZEFDEC_FAST\` |"
    echo "|---|---:|---:|---:|---:|"
    printf '%s' "$rows" | while read -r cpu os o2 fast_os fast_o2; do
      case $cpu in cortex-m0plus) name=Cortex-M0+ ;; cortex-m4) name=Cortex-M4 ;; *) name=$cpu ;; esac
      echo "| $name | $os | $o2 | $fast_os | $fast_o2 |"
    done
    echo
    echo "| canvas compiled in with \`ZEFDEC_CANVASES\` | text bytes added to open + draw (budget $canvas_budget) |"
    echo "|---|---:|"
    printf '%s' "$canvas_rows" | while read -r canvas added; do
      echo "| \`$canvas\` | $added$([ "$added" -le "$canvas_budget" ] || echo ', over budget') |"
    done
  } | sh "$here/../tools/write-between-markers.sh" "$docs" size.sh
  echo "tables written into $docs"
fi

[ -z "$docs" ] || exit 0
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
if [ -n "$over" ]; then
  echo "these canvases add more than $canvas_budget bytes:$over" >&2
  exit 1
fi

#!/usr/bin/env bash
# What `zef embed` writes compiles with one C compiler under the strictest
# C99 flags firmware uses, lands in the section and alignment asked for,
# and links: a host program (C and C++) that includes the header finds the
# archive's bytes, also when they come from `--format bin` through .incbin.
# A cross compiler only compiles. Every compiler comes with
# tools/install-deps.sh, so a missing one fails the test, naming its
# Debian package; Debian names clang by its version.
#   embed_compile_test.sh ZEF COMPILER EXAMPLES_DIR
set -euo pipefail
zef=$(realpath "$1")
cc=$2
examples=$(realpath "$3")
case $cc in
  clang) candidates=(clang clang-14); package=clang-14 ;;
  arm-none-eabi-gcc) candidates=("$cc"); package=gcc-arm-none-eabi ;;
  *) candidates=("$cc"); package=build-essential ;;
esac
found=""
for candidate in "${candidates[@]}"; do
  if command -v "$candidate" > /dev/null; then found=$candidate; break; fi
done
[ -n "$found" ] || { echo "$cc is not installed: install the Debian package $package (tools/install-deps.sh)" >&2; exit 1; }
cc=$found
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "$*" >&2; exit 1; }

case $cc in
  arm-none-eabi-*) cross=yes; target_flags=(-mcpu=cortex-m4 -mthumb -Os); readelf=arm-none-eabi-readelf ;;
  *) cross=no; target_flags=(-O2); readelf=readelf ;;
esac
flags=(-std=c99 -Wall -Wextra -Werror -pedantic "${target_flags[@]}")

"$zef" pack "$examples" -o ui-sprites.zef 2> /dev/null
size=$(stat -c %s ui-sprites.zef)
"$zef" embed -o sprites.c --header sprites.h --align 64 --section .rodata.zef_assets ui-sprites.zef

# Name, size (hex) and alignment of a section of an object file.
section() {
  "$readelf" -S -W "$1" | sed -E 's/^ *\[ *[0-9]+\] *//' |
    awk -v name="$2" '$1 == name { print $1, $5, $NF }'
}

"$cc" "${flags[@]}" -c sprites.c -o sprites.o
expected=$(printf '.rodata.zef_assets %06x 64' "$size")
got=$(section sprites.o .rodata.zef_assets)
[ "$got" = "$expected" ] || fail "section: got '$got', expected '$expected'"

# A compiler's own spelling, predefined, replaces the default one.
"$cc" "${flags[@]}" '-DZEF_SECTION(name)=__attribute__((section(".other")))' -c sprites.c -o other.o
[ -n "$(section other.o .other)" ] || fail "a predefined ZEF_SECTION was not used"
[ -z "$(section other.o .rodata.zef_assets)" ] || fail "the default ZEF_SECTION was used too"

# Names that C or its headers take, as archive stems, are changed; the
# headers of image names that clash with each other, with the guard or
# with C, and of an archive name with line breaks, compile.
mkdir glyphs
for name in h h_width h_2 int8 __x NULL; do cp "$examples"/heart.png "glyphs/$name.png"; done
"$zef" pack glyphs -o $'x\n#error injected ??\n.zef' --header font.h --prefix font 2> /dev/null
"$zef" pack glyphs -o glyphs.zef --header bare.h --prefix '' 2> /dev/null
for stem in main NULL size_t uint8_t SIZE_MAX __func__ _Data int8_t; do
  cp ui-sprites.zef "$stem.zef"
  "$zef" embed -o "r$stem.c" --header "r$stem.h" "$stem.zef"
  "$cc" "${flags[@]}" -c "r$stem.c" -o "r$stem.o"
  printf '#include "r%s.h"\n' "$stem" >> all.c
done
printf '#include "font.h"\n#include "bare.h"\n#include "font.h"\nint zef_images(void) { return FONT_H + FONT_H_WIDTH_2; }\n' >> all.c
"$cc" "${flags[@]}" -c all.c -o all.o || fail "a header of renamed names does not compile"

if [ $cross = yes ]; then
  echo "$cc: embedded source compiles"
  exit 0
fi

cat > main.c <<'EOF'
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "sprites.h"

int main(int argc, char **argv) {
    static uint8_t file[UI_SPRITES_SIZE + 1];
    FILE *in;
    size_t got;
    (void)argc;
    in = fopen(argv[1], "rb");
    if (in == NULL) return 2;
    got = fread(file, 1, sizeof file, in);
    fclose(in);
    if (got != UI_SPRITES_SIZE || sizeof ui_sprites != UI_SPRITES_SIZE) return 3;
    if (memcmp(file, ui_sprites, got) != 0) return 4;
    if ((uintptr_t)ui_sprites % ALIGNMENT != 0) return 5;
#ifndef BINARY
    if (ui_sprites_size != UI_SPRITES_SIZE) return 6;
#endif
    return 0;
}
EOF
"$cc" "${flags[@]}" -DALIGNMENT=64 main.c sprites.o -o from_source
./from_source ui-sprites.zef || fail "the program built from the C source saw other bytes ($?)"

# C++ includes the same header and links the C definitions.
case $cc in
  gcc) cxx=g++ ;;
  clang*) cxx=${cc/clang/clang++} ;;
esac
cat > main.cpp <<'EOF'
#include "sprites.h"

int main() { return ui_sprites_size == UI_SPRITES_SIZE && ui_sprites[0] == 0xAA ? 0 : 1; }
EOF
"$cxx" -std=c++17 -Wall -Wextra -Werror -pedantic -c main.cpp -o main_cpp.o
"$cxx" main_cpp.o sprites.o -o from_cpp
./from_cpp || fail "the C++ program saw another size or first byte"

# The binary format, pulled in by the assembler, with the same header.
"$zef" embed --format bin -o sprites.bin --header sprites.h ui-sprites.zef
cmp sprites.bin ui-sprites.zef || fail "the binary differs from the archive"
cat > data.s <<'EOF'
    .section .rodata
    .global ui_sprites
    .balign 16
ui_sprites:
    .incbin "sprites.bin"
    .section .note.GNU-stack,"",@progbits
EOF
"$cc" -c data.s -o data.o
"$cc" "${flags[@]}" -DALIGNMENT=16 -DBINARY main.c data.o -o from_binary
./from_binary ui-sprites.zef || fail "the program built from the binary saw other bytes ($?)"
echo "$cc: embedded source and binary compile, link and hold the archive"

#!/usr/bin/env bash
# The firmware path from a fresh install prefix: the firmware example,
# built by zef_add_assets from the example sprites, draws a screen that
# matches one composed from the library's decode (zef_screen_check), by
# name, with start index 0 and 100 and as archive version 4; the decoder
# is built once, for size; a folder of icons is repacked when an icon is added, changed or removed, and only
# then, the program's archive keeps the id of its header, and new pixels
# recompile no file that includes the header, also when the archive's size
# changes; odd folder and file names are tracked and give names that
# compile; target names C or the decoder take and conflicting options are
# refused; the C and assembly snippets of the README and the firmware guide
# build; and the same assets cross-compile for a Cortex-M4 with the host's
# zef doing the packing, through a toolchain file that finds packages only
# in its root.
#   assets_test.sh BUILD_DIR SCREEN_CHECK EXAMPLES_DIR
set -euo pipefail
build_dir=$1
check=$2
examples=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "$*" >&2; exit 1; }

cmake --install "$build_dir" --prefix "$prefix" > /dev/null
[ -x "$prefix/bin/zef" ] || fail "zef is not installed"

# The example: its screen against the reader's, each sprite drawn by its
# name, whatever the start index. A release build still compiles the
# decoder for size, and once.
example=$work/example
for run in "0 --alpha;4" "100 --alpha;4" "100 --format;v4"; do
  start=${run%% *}
  cmake -S "$examples/firmware" -B "$example" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_BUILD_TYPE=Release -DSPRITES_START_INDEX=$start -DSPRITES_FORMAT="${run#* }" > /dev/null
  cmake --build "$example" -v > "$work/example$start.log" 2>&1 || { cat "$work/example$start.log"; fail "example build failed"; }
  grep -qx "#define SPRITES_BUTTON_NUMBER $start" "$example/zef_assets/sprites/sprites_images.h" ||
    fail "start index $start: the header does not number from it"
  "$example/screen" "$work/screen.ppm" > "$work/draws.txt"
  "$check" "$example/zef_assets/sprites/sprites.zef" "$work/screen.ppm" "$work/draws.txt" "$examples" ||
    fail "start index $start: the screen is wrong"
done
head -c 5 "$example/zef_assets/sprites/sprites.zef" | od -An -tx1 | grep -q 'aa ff aa 04 00' ||
  fail "PACK_OPTIONS --format v4 did not make a version 4 archive"
[ "$(find "$example" -name 'zefdec.c.o' | wc -l)" = 1 ] || fail "the decoder is compiled more than once"
grep 'zefdec\.c' "$work/example0.log" | grep -q -- '-O3.*-Os' || fail "the decoder is not built for size"

# A folder of icons, changed between builds.
icons=$work/icons
mkdir "$icons"
cp "$examples"/heart.png "$examples"/heart_mask.png "$examples"/star.png "$icons"/
assets=$work/assets
header=$assets/zef_assets/icons/icons_images.h
archive=$assets/zef_assets/icons/icons.zef
# A C project on a host without OpenCV still gets the decoder and zef.
cmake -S "$here/assets" -B "$assets" -DCMAKE_PREFIX_PATH="$prefix" -DICONS_DIR="$icons" \
  -DCMAKE_DISABLE_FIND_PACKAGE_OpenCV=ON > /dev/null
build() { cmake --build "$assets" > "$work/build.log" 2>&1 || { cat "$work/build.log"; fail "$1: build failed"; }; }
packed() { grep -q "Packing the images of icons" "$work/build.log"; }
recompiled() { grep -q "Building C object CMakeFiles/count.dir/main.c.o" "$work/build.log"; }
expect() {  # step, image count, header lines
  local step=$1 count=$2
  shift 2
  [ "$("$assets/count")" = "$count" ] || fail "$step: the program does not see $count images"
  for line in "$@"; do
    grep -qx "$line" "$header" || fail "$step: the header lacks '$line'"
  done
}
build first
packed || fail "the first build did not pack"
expect first 2 "#define ICONS_HEART 0" "#define ICONS_STAR 1"

build unchanged
packed && fail "a build with nothing changed packed again"

cp "$examples"/coin.png "$examples"/coin_mask.png "$icons"/
build added
packed || fail "an added icon was not packed"
expect added 3 "#define ICONS_COIN 0" "#define ICONS_HEART 1" "#define ICONS_STAR 2"

cp "$archive" "$work/before.zef"
cp "$examples"/gem.png "$icons"/star.png
build changed
packed || fail "a changed icon was not packed"
cmp -s "$archive" "$work/before.zef" && fail "the archive did not change with its icon"
expect changed 3 "#define ICONS_STAR 2"

rm "$icons"/heart.png "$icons"/heart_mask.png
build removed
packed || fail "a removed icon did not repack"
expect removed 2 "#define ICONS_COIN 0" "#define ICONS_STAR 1"
grep -q ICONS_HEART "$header" && fail "a removed icon is still in the header"

# New pixels, same size: the archive changes, the headers do not, so the
# file that includes them is not compiled again.
flat_png() { "$check" --flat "$@"; }  # file, red, green, blue: 8 x 8 of one colour
flat_png "$icons/flat.png" 200 0 0
build "flat added"
flat_png "$icons/flat.png" 0 0 200
cp "$archive" "$work/before.zef"
build "flat recoloured"
packed || fail "a recoloured icon was not packed"
cmp -s "$archive" "$work/before.zef" && fail "the archive did not change with its pixels"
recompiled && fail "a recoloured icon recompiled a file that includes the header"
expect "flat recoloured" 3
# New alpha: the archive's size changes, the names and sizes do not.
size=$(stat -c %s "$archive")
# (A mask added beside one that is there keeps the archive's alpha bits, so
# its id stays too.)
cp "$examples"/gem_mask.png "$icons"/star_mask.png
build "mask added"
[ "$(stat -c %s "$archive")" != "$size" ] || fail "an added mask did not change the archive's size"
recompiled && fail "a new archive size recompiled a file that includes the header"

# Odd names: a folder named with glob characters, an icon with ';' in its
# name and one whose name is the data header's in upper case, under
# -Werror; an edit repacks. Target names that C or the decoder take are
# refused when configuring, in the step's own words.
odd=$work/odd
mkdir -p "$odd/ic[1]*?"
cp "$examples"/coin.png "$odd/ic[1]*?/we;ird.png"
cp "$examples"/star.png "$odd/ic[1]*?/data_h.png"
cat > "$odd/CMakeLists.txt" <<'PROJECT'
cmake_minimum_required(VERSION 3.25)
project(OddNames LANGUAGES C)
find_package(ZefiConvert CONFIG REQUIRED COMPONENTS zefdec zef)
zef_add_assets(${ASSETS} "${CMAKE_CURRENT_SOURCE_DIR}/ic[1]*?")
add_executable(odd main.c)
target_link_libraries(odd PRIVATE ${ASSETS})
target_compile_options(odd PRIVATE -std=c99 -Wall -Wextra -Werror -pedantic)
PROJECT
printf '#include "ui.h"\n#include <stdio.h>\nint main(void) { return UI_DATA_H == 0 && UI_SIZE > 0 ? 0 : 1; }\n' > "$odd/main.c"
cmake -S "$odd" -B "$odd/build" -DCMAKE_PREFIX_PATH="$prefix" -DASSETS=ui > /dev/null
cmake --build "$odd/build" > "$work/odd.log" 2>&1 && "$odd/build/odd" || { cat "$work/odd.log"; fail "odd names: build failed"; }
cp "$examples"/gem.png "$odd/ic[1]*?/we;ird.png"
cmake --build "$odd/build" > "$work/odd.log" 2>&1 || { cat "$work/odd.log"; fail "odd names: rebuild failed"; }
grep -q "Packing the images of ui" "$work/odd.log" || fail "odd names: a changed icon was not packed"
for name in int main size_t _Foo EOF zefdec; do
  if cmake -S "$odd" -B "$work/name-$name" -DCMAKE_PREFIX_PATH="$prefix" -DASSETS=$name > "$work/name.log" 2>&1; then
    fail "zef_add_assets($name) was accepted"
  fi
  grep -q "zef_add_assets($name): the name" "$work/name.log" || { cat "$work/name.log"; fail "$name: refused without a message"; }
  grep -q -- "--symbol" "$work/name.log" && fail "zef_add_assets($name) is refused in terms of --symbol"
done

# Options that would break the step are refused with their names.
if cmake -S "$here/assets" -B "$work/refused" -DCMAKE_PREFIX_PATH="$prefix" -DICONS_DIR="$icons" \
     -DEXTRA_EMBED_OPTIONS="--format;bin;--symbol=x" > "$work/refused.log" 2>&1; then
  fail "EMBED_OPTIONS --format bin was accepted"
fi
grep -q "EMBED_OPTIONS --format --symbol=x" "$work/refused.log" || { cat "$work/refused.log"; fail "the refusal does not name the options"; }

# The snippets of the README and the firmware guide as they stand: the C
# blocks marked for this test against assets named as they name them, and the .incbin block assembled
# and linked without a warning, its symbol the archive's size.
readme=$here/../../README.md
guide=$here/../../docs/firmware.md
snippets=$work/snippets
mkdir -p "$snippets/icons"
cp "$examples"/coin.png "$snippets/icons/battery.png"
cp "$examples"/star.png "$snippets/icons/wifi.png"
for document in "$readme" "$guide"; do
  name=$(basename "$document" .md)
  awk -v out="$snippets/$name" '/^<!-- compiled by tests\/install\/assets_test.sh -->$/ { marked = 1; next }
       marked && /^```c$/ { file = out "-" (++n) ".c"; inblock = 1; marked = 0; next }
       inblock && /^```$/ { inblock = 0; next }
       inblock { print > file }' "$document"
  ls "$snippets/$name"*.c > /dev/null 2>&1 || fail "$document marks no C block for this test"
done
# the README's CMake lines as they stand, the C blocks as the firmware
readme_cmake=$(awk '/^<!-- built by tests\/install\/assets_test.sh -->$/ { marked = 1; next }
     marked && /^```cmake$/ { inblock = 1; marked = 0; next }
     inblock && /^```$/ { exit }
     inblock { print }' "$readme")
[ -n "$readme_cmake" ] || fail "README.md marks no CMake block for this test"
cat > "$snippets/CMakeLists.txt" <<PROJECT
cmake_minimum_required(VERSION 3.25)
project(ReadmeSnippets LANGUAGES C)
file(GLOB blocks \${CMAKE_CURRENT_SOURCE_DIR}/*.c)
add_library(firmware STATIC \${blocks})
target_compile_options(firmware PRIVATE -std=c99 -Wall -Wextra -Werror -pedantic -Wno-unused-function)
$readme_cmake
PROJECT
cmake -S "$snippets" -B "$snippets/build" -DCMAKE_PREFIX_PATH="$prefix" > /dev/null
cmake --build "$snippets/build" > "$work/snippets.log" 2>&1 || { cat "$work/snippets.log"; fail "the C blocks of README.md or docs/firmware.md do not compile"; }
awk '/^```asm$/ { inblock = 1; next } inblock && /^```$/ { exit } inblock { print }' "$guide" > "$snippets/ui.s"
[ -s "$snippets/ui.s" ] || fail "docs/firmware.md shows no .incbin block"
cp "$snippets/build/zef_assets/ui/ui.zef" "$snippets/"
printf '#include <stdint.h>\nextern const uint8_t ui[];\nextern const uint32_t ui_size;\nint main(void) { return ui[0] == 0xAA && ui_size == %s ? 0 : 1; }\n' \
  "$(stat -c %s "$snippets/ui.zef")" > "$snippets/main.c"
(cd "$snippets" && cc -c ui.s -o ui.o && cc main.c ui.o -Wl,--fatal-warnings -o incbin && ./incbin) ||
  fail "the .incbin block of docs/firmware.md does not link cleanly on the host"
symbol_size=$(nm -S -t d "$snippets/ui.o" | awk '$4 == "ui" { print $2 }')
[ -n "$symbol_size" ] && [ $((10#$symbol_size)) = "$(stat -c %s "$snippets/ui.zef")" ] ||
  fail "the .incbin symbol of docs/firmware.md does not have the archive's size"

# Cross-compiled: the host's installed zef packs, the target's compiler
# compiles the array and the decoder.
if command -v arm-none-eabi-gcc > /dev/null; then
  cross=$work/cross
  # as docs/firmware.md tells: the toolchain file finds packages only in its root
  cmake -S "$here/assets" -B "$cross" -DCMAKE_TOOLCHAIN_FILE="$here/arm-none-eabi.cmake" \
    -DZefiConvert_DIR="$prefix/lib/cmake/ZefiConvert" -DICONS_DIR="$icons" > /dev/null
  cmake --build "$cross" -v > "$work/cross.log" 2>&1 || { cat "$work/cross.log"; fail "cross build failed"; }
  grep -q "$prefix/bin/zef pack" "$work/cross.log" || fail "the cross build did not run the installed zef"
  members=$(arm-none-eabi-ar t "$cross/libicons.a" | sort | tr '\n' ' ')
  [ "$members" = "icons.c.obj " ] || fail "cross library holds: $members"
  for library in "$cross/libicons.a" "$cross/libZefiConvert_zefdec.a"; do
    arm-none-eabi-objdump -f "$library" | grep -q "architecture: arm" ||
      fail "$library is not for ARM"
  done
  arm-none-eabi-readelf -S -W "$cross/libicons.a" | grep -q " .rodata.icons " ||
    fail "the array is not in its section"
else
  fail "arm-none-eabi-gcc is not installed: install the Debian package gcc-arm-none-eabi (tools/install-deps.sh)"
fi
echo "assets are packed, rebuilt and drawn as the reader shows them"

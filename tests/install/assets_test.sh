#!/usr/bin/env bash
# The firmware path from a fresh install prefix: the firmware example,
# built by zef_add_assets from the example sprites, draws a screen that
# matches one composed from the reader (zef_screen_check); a folder of
# icons is repacked when an icon is added, changed or removed, and only
# then; and the same assets cross-compile for a Cortex-M4 with the host's
# zef doing the packing.
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

# The example: its screen against the reader's.
cmake -S "$examples/firmware" -B "$work/example" -DCMAKE_PREFIX_PATH="$prefix" > /dev/null
cmake --build "$work/example" > /dev/null
"$work/example/screen" "$work/screen.ppm" > "$work/draws.txt"
"$check" "$work/example/zef_assets/sprites/sprites.zef" "$work/screen.ppm" "$work/draws.txt"
# The decoder is compiled into the assets library, not again into the program.
[ -z "$(find "$work/example/CMakeFiles/screen.dir" -name 'zefdec.c.o')" ] ||
  fail "the program compiles the decoder a second time"

# A folder of icons, changed between builds.
icons=$work/icons
mkdir "$icons"
cp "$examples"/heart.png "$examples"/heart_mask.png "$examples"/star.png "$icons"/
assets=$work/assets
header=$assets/zef_assets/icons/icons_images.h
archive=$assets/zef_assets/icons/icons.zef
cmake -S "$here/assets" -B "$assets" -DCMAKE_PREFIX_PATH="$prefix" -DICONS_DIR="$icons" > /dev/null
build() { cmake --build "$assets" > "$work/build.log" 2>&1 || { cat "$work/build.log"; fail "$1: build failed"; }; }
packed() { grep -q "Packing the images of icons" "$work/build.log"; }
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

# Cross-compiled: the host's installed zef packs, the target's compiler
# compiles the array and the decoder.
if command -v arm-none-eabi-gcc > /dev/null; then
  cross=$work/cross
  cmake -S "$here/assets" -B "$cross" -DCMAKE_TOOLCHAIN_FILE="$here/arm-none-eabi.cmake" \
    -DCMAKE_PREFIX_PATH="$prefix" -DICONS_DIR="$icons" > /dev/null
  cmake --build "$cross" -v > "$work/cross.log" 2>&1 || { cat "$work/cross.log"; fail "cross build failed"; }
  grep -q "$prefix/bin/zef pack" "$work/cross.log" || fail "the cross build did not run the installed zef"
  members=$(arm-none-eabi-ar t "$cross/libicons.a" | sort | tr '\n' ' ')
  [ "$members" = "icons.c.obj zefdec.c.obj " ] || fail "cross library holds: $members"
  arm-none-eabi-objdump -f "$cross/libicons.a" | grep -q "architecture: arm" ||
    fail "the cross library is not for ARM"
  arm-none-eabi-readelf -S -W "$cross/libicons.a" | grep -q " .rodata.icons " ||
    fail "the array is not in its section"
else
  echo "no arm-none-eabi-gcc: cross build skipped"
fi
echo "assets are packed, rebuilt and drawn as the reader shows them"

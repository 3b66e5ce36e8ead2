#!/usr/bin/env bash
# Installs the library from a build tree into a fresh prefix and checks what
# a user of the package gets: only public headers (and the internal ones a
# public header still includes), a C++ program built against
# ZefiConvert::zefarchive, a C program and a firmware library built against
# ZefiConvert::zefdec.
#   install_test.sh BUILD_DIR "PUBLIC HEADERS" "INCLUDED INTERNAL HEADERS"
set -euo pipefail
build_dir=$1
read -r -a public <<< "$2"
read -r -a included_internal <<< "${3:-}"
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "$*" >&2; exit 1; }

cmake --install "$build_dir" --component library --prefix "$prefix" > /dev/null

# The include tree: every public header, and no header of the library's own
# unless a public header includes it.
headers=$prefix/include/zefarchive
for header in "${public[@]}"; do
  [ -f "$headers/$header" ] || fail "public header $header is not installed"
done
while IFS= read -r installed; do
  allowed=no
  for header in "${public[@]}" "${included_internal[@]}"; do
    [ "$installed" = "$header" ] && allowed=yes
  done
  [ $allowed = yes ] || fail "internal header $installed is installed"
done < <(cd "$headers" && find . -type f | sed 's|^\./||' | sort)
for header in "${included_internal[@]}"; do
  grep -rqs --include='*.h' --exclude="$(basename "$header")" "#include \"$header\"" "$headers" ||
    fail "$header is no longer included by a public header: take it off ZEF_INCLUDED_INTERNAL_HEADERS"
done
[ -f "$prefix/share/ZefiConvert/LICENSE" ] || fail "the licence is not installed"

# C++: write an archive and read it back.
cmake -S "$here/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" > /dev/null
cmake --build "$work/consumer" > /dev/null
"$work/consumer/consumer" "$work/out.zef"
size=$(stat -c %s "$work/out.zef")
# header 23, image table 2 + 16, palette block 16 + 2 + 2, image 2 + 4 + 2 * (2 + 2)
[ "$size" -eq 75 ] || fail "unexpected archive size $size"

# The README's CMake lines for the library as they stand, linking a
# program that uses it.
readme_cmake=$(awk '/^<!-- built by tests\/install\/install_test.sh -->$/ { marked = 1; next }
     marked && /^```cmake$/ { inblock = 1; marked = 0; next }
     inblock && /^```$/ { exit }
     inblock { print }' "$here/../../README.md")
[ -n "$readme_cmake" ] || fail "README.md marks no CMake block for this test"
mkdir -p "$work/readme"
printf '#include <archive/ZefDecode.h>\nint main() { return zef::Decode(nullptr, 0).Ok() ? 1 : 0; }\n' > "$work/readme/main.cpp"
printf 'cmake_minimum_required(VERSION 3.25)\nproject(Viewer LANGUAGES CXX)\nadd_executable(viewer main.cpp)\n%s\n' \
  "$readme_cmake" > "$work/readme/CMakeLists.txt"
cmake -S "$work/readme" -B "$work/readme/build" -DCMAKE_PREFIX_PATH="$prefix" > /dev/null &&
  cmake --build "$work/readme/build" > "$work/readme.log" 2>&1 || { cat "$work/readme.log"; fail "the README's library CMake lines do not build a program"; }

# The library guide's example: it builds, runs, and prints what the
# guide shows.
guide=$here/../../docs/library.md
cmake -S "$here/../../examples/library" -B "$work/library" -DCMAKE_PREFIX_PATH="$prefix" > /dev/null
cmake --build "$work/library" > /dev/null
(cd "$work/library" && ./icons) > "$work/library.txt" || fail "the library example failed"
awk '/^<!-- output of examples\/library -->$/ { seen = 1; next }
     seen && inblock && /^```$/ { exit }
     inblock { print }
     seen && /^```/ { inblock = 1 }' "$guide" > "$work/library_shown.txt"
[ -s "$work/library_shown.txt" ] || fail "docs/library.md shows no output of the library example"
diff -u "$work/library_shown.txt" "$work/library.txt" >&2 ||
  fail "the library example does not print what docs/library.md shows"

# C: the decoder's sources compiled into a program, which decodes that
# archive in memory and through a callback: with the default read window
# and canvases, and with a window and canvases set in the project's cache,
# which reach the decoder and the program alike, the second built fast (its
# table loops are in the library). A window the header cannot take and a
# canvas it does not know are refused when configuring.
cmake -S "$here/decoder" -B "$work/decoder" -DCMAKE_PREFIX_PATH="$prefix" > /dev/null
cmake --build "$work/decoder" > /dev/null
"$work/decoder/decoder" "$work/out.zef" 128
cmake -S "$here/decoder" -B "$work/decoder256" -DCMAKE_PREFIX_PATH="$prefix" -DZEFDEC_WINDOW_SIZE=256 \
  -DZEFDEC_FAST=ON "-DZEFDEC_CANVASES=L8;XRGB8888" > /dev/null
cmake --build "$work/decoder256" > /dev/null
"$work/decoder256/decoder" "$work/out.zef" 256 xrgb
if cmake -S "$here/decoder" -B "$work/decoder_rgb444" -DCMAKE_PREFIX_PATH="$prefix" -DZEFDEC_CANVASES=RGB444 \
    > "$work/decoder_rgb444.log" 2>&1; then
  fail "a canvas RGB444 was taken"
fi
grep -q "ZEFDEC_CANVASES: no canvas RGB444" "$work/decoder_rgb444.log" ||
  { cat "$work/decoder_rgb444.log" >&2; fail "the canvas RGB444 was refused without saying why"; }
for build in decoder decoder256; do
  nm "$work/$build/libZefiConvert_zefdec.a" | grep -c ' ops_2$' || true
done | tr '\n' ' ' | grep -qx '0 1 ' || fail "ZEFDEC_FAST does not choose the decoder's table draw"
if cmake -S "$here/decoder" -B "$work/decoder30" -DCMAKE_PREFIX_PATH="$prefix" -DZEFDEC_WINDOW_SIZE=30 \
    > "$work/decoder30.log" 2>&1; then
  fail "a read window of 30 bytes was taken"
fi
grep -q "ZEFDEC_WINDOW_SIZE 30: give a multiple of 4, at least 16" "$work/decoder30.log" ||
  { cat "$work/decoder30.log" >&2; fail "a read window of 30 bytes was refused without saying why"; }

# Firmware: the same sources compiled by a cross compiler into its library.
if command -v arm-none-eabi-gcc > /dev/null; then
  cmake -S "$here/firmware" -B "$work/firmware" -DCMAKE_PREFIX_PATH="$prefix" > /dev/null
  cmake --build "$work/firmware" > /dev/null
  arm-none-eabi-ar t "$work/firmware/libZefiConvert_zefdec.a" | grep -qx 'zefdec.c.obj' ||
    fail "the firmware build made no decoder library"
else
  fail "arm-none-eabi-gcc is not installed: install the Debian package gcc-arm-none-eabi (tools/install-deps.sh)"
fi
echo "installed library works"

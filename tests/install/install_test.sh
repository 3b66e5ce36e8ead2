#!/usr/bin/env bash
# Installs the library from a build tree into a fresh prefix, builds a user's
# project against it and runs it: proves headers, library and CMake package
# are complete.
set -euo pipefail
build_dir=$1
source_dir=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build_dir" --component library --prefix "$work/prefix" > /dev/null
cmake -S "$source_dir/consumer" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" > /dev/null
cmake --build "$work/build" > /dev/null
"$work/build/consumer" "$work/out.zef"
size=$(stat -c %s "$work/out.zef")
# header 23, image table 2 + 16, palette block 16 + 2 + 2, image 2 + 4 + 2 * (2 + 2)
if [ "$size" -ne 75 ]; then
  echo "unexpected archive size $size" >&2
  exit 1
fi
echo "installed library works"

#!/usr/bin/env bash
# The code sizes in docs/firmware.md are what device/size.sh measures with
# this machine's compiler: the script writes its tables into a copy of the
# guide, which must come out unchanged.
#   code_size_test.sh SOURCE_DIR
set -euo pipefail
root=$1
command -v arm-none-eabi-gcc > /dev/null ||
  { echo "arm-none-eabi-gcc is not installed: install the Debian package gcc-arm-none-eabi (tools/install-deps.sh)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$root/docs/firmware.md" "$work/firmware.md"
sh "$root/device/size.sh" --write "$work/firmware.md" > "$work/size.log" 2>&1 || { cat "$work/size.log"; exit 1; }
diff -u "$root/docs/firmware.md" "$work/firmware.md" >&2 || {
  echo "docs/firmware.md's code sizes are not what device/size.sh measures:" \
       "run device/size.sh --write docs/firmware.md" >&2
  exit 1
}
echo "docs/firmware.md shows the sizes device/size.sh measures"

#!/usr/bin/env bash
# The device decoder's object calls exactly the library functions that
# zefdec.h lists for each core and optimisation, built small or fast, and the firmware guide's
# build by hand works as written and gives such an object.
#   decoder_calls_test.sh SOURCE_DIR
set -euo pipefail
root=$1
fail() { echo "$*" >&2; exit 1; }
command -v arm-none-eabi-gcc > /dev/null ||
  { echo "arm-none-eabi-gcc is not installed: install the Debian package gcc-arm-none-eabi (tools/install-deps.sh)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Undefined symbols of an object, sorted, on one line.
calls() { arm-none-eabi-nm -u "$1" | awk '{ print $NF }' | sort | tr '\n' ' ' | sed 's/ $//'; }
words() { printf '%s\n' "$@" | sort | tr '\n' ' ' | sed 's/ $//'; }

# " *   cortex-m4 -Os: memmove" lines of the header's comment
sed -n 's/^ \*   \(cortex-[a-z0-9]*\) \(-O[s2]\): \(.*\)$/\1 \2 \3/p' "$root/device/zefdec.h" > "$work/rows"
for level in -Os -O2; do
  grep -q "^cortex-m4 $level " "$work/rows" || fail "zefdec.h lists no library functions for cortex-m4 $level"
done
while read -r cpu level listed; do
  [ "$listed" = none ] && listed=
  read -r -a expected <<< "$listed"
  for fast in 0 1; do
    for canvases in ZEFDEC_WITH_RGB565 ZEFDEC_WITH_ALL; do
      arm-none-eabi-gcc -std=c99 -mcpu="$cpu" -mthumb "$level" -DZEFDEC_FAST=$fast -DZEFDEC_CANVASES=$canvases \
        -I"$root/device" -I"$root/archive" -c "$root/device/zefdec.c" -o "$work/zefdec.o"
      [ "$(calls "$work/zefdec.o")" = "$(words "${expected[@]}")" ] ||
        fail "$cpu $level ZEFDEC_FAST=$fast $canvases: the object calls '$(calls "$work/zefdec.o")', zefdec.h lists '$listed'"
    done
  done
done < "$work/rows"

# The build by hand, run in a folder laid out as the repository is.
guide=$root/docs/firmware.md
awk '/^<!-- run by tests\/docs\/decoder_calls_test.sh -->$/ { marked = 1; next }
     marked && /^```sh$/ { inblock = 1; marked = 0; next }
     inblock && /^```$/ { exit }
     inblock { print }' "$guide" > "$work/by_hand.sh"
[ -s "$work/by_hand.sh" ] || fail "docs/firmware.md marks no build by hand for this test"
mkdir "$work/tree"
ln -s "$root/device" "$work/tree/device"
ln -s "$root/archive" "$work/tree/archive"
(cd "$work/tree" && bash -e "$work/by_hand.sh") || fail "the build by hand of docs/firmware.md fails"
[ -f "$work/tree/zefdec.o" ] || fail "the build by hand of docs/firmware.md makes no zefdec.o"
listed=$(sed -n "s/^cortex-m4 -Os //p" "$work/rows")
[ "$listed" = none ] && listed=
read -r -a expected <<< "$listed"
[ "$(calls "$work/tree/zefdec.o")" = "$(words "${expected[@]}")" ] ||
  fail "the build by hand gives an object that calls '$(calls "$work/tree/zefdec.o")'"
echo "the decoder calls what zefdec.h lists, and the build by hand works"

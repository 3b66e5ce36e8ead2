#!/usr/bin/env bash
# The target_draw test: the device decoder and target_draw.c cross-compiled
# for the Cortex-M4 at -Os, run on QEMU's mps2-an386, and every framebuffer
# it draws compared byte for byte with the same program built for the host;
# the decoder as firmware gets it by default, and then with ZEFDEC_FAST=1.
#   target_test.sh SOURCE_DIR HOST_PROGRAM HOST_FAST_PROGRAM ARCHIVES_C WORK_DIR
# A missing cross compiler, C library or QEMU is a failure that names the
# Debian package to install (tools/packages.txt lists them all).
set -euo pipefail
source_dir=$1 host_small=$2 host_fast=$3 archives_c=$4 work_top=$5
here="$source_dir/tests/target"

missing() {
  echo "target_draw: $1 is missing; install the Debian package $2 (see tools/packages.txt)" >&2
  exit 1
}
command -v arm-none-eabi-gcc > /dev/null || missing arm-none-eabi-gcc gcc-arm-none-eabi
command -v qemu-system-arm > /dev/null || missing qemu-system-arm qemu-system-arm
[ -n "$(arm-none-eabi-gcc --specs=nano.specs -print-file-name=libc_nano.a | grep /)" ] &&
  [ -f "$(arm-none-eabi-gcc --specs=nano.specs -print-file-name=libc_nano.a)" ] ||
  missing "newlib for arm-none-eabi (libc_nano.a)" libnewlib-arm-none-eabi

for build in small fast; do
  work="$work_top/$build" speed=() host_program=$host_small
  [ "$build" = fast ] && speed=(-DZEFDEC_FAST=1) host_program=$host_fast
  rm -rf "$work"
  mkdir -p "$work/target" "$work/host"

  # the firmware build: -Os, as firmware builds the decoder, with every canvas
  flags=(-std=c99 -Wall -Wextra -Werror -pedantic -mcpu=cortex-m4 -mthumb -Os -ffunction-sections -fdata-sections
         -DZEFDEC_CANVASES=ZEFDEC_WITH_ALL "${speed[@]}")
  includes=(-I"$source_dir/device" -I"$source_dir/archive" -I"$here")
  arm-none-eabi-gcc "${flags[@]}" "${includes[@]}" -nostartfiles --specs=nano.specs -Wl,--gc-sections \
    -T "$here/mps2-an386.ld" -o "$work/target_draw.elf" \
    "$here/target_draw.c" "$here/board_mps2.c" "$archives_c" "$source_dir/device/zefdec.c"
  arm-none-eabi-size "$work/target_draw.elf"

  # QEMU ends with the program's exit status; the timeout ends a program that hangs.
  status=0
  (cd "$work/target" && timeout 120 qemu-system-arm -M mps2-an386 -cpu cortex-m4 -display none -monitor none \
    -serial none -chardev stdio,id=console,signal=off \
    -semihosting-config enable=on,target=native,chardev=console \
    -kernel "$work/target_draw.elf" < /dev/null) || status=$?
  if [ "$status" -ne 0 ]; then
    echo "target_draw: the program on QEMU ended with status $status" >&2
    grep -m 20 FAILED "$work/target/draw.txt" >&2 || true
    exit 1
  fi

  host_status=0
  (cd "$work/host" && "$host_program") || host_status=$?
  if [ "$host_status" -ne 0 ]; then
    echo "target_draw: the host build ended with status $host_status" >&2
    grep -m 20 FAILED "$work/host/draw.txt" >&2 || true
    exit 1
  fi

  for file in draw.txt draw.bin; do
    if ! cmp "$work/host/$file" "$work/target/$file"; then
      echo "target_draw: $file of the target differs from the host's; first differing lines of draw.txt:" >&2
      diff "$work/host/draw.txt" "$work/target/draw.txt" | head -n 20 >&2 || true
      exit 1
    fi
  done
  echo "target_draw ($build): $(grep -c ": 0 [0-9a-f]*$" "$work/host/draw.txt") draws and decodes, $(wc -c < "$work/host/draw.bin") framebuffer bytes: the target's are the host's"
done
# the two builds promise the same pixels and results
for file in draw.txt draw.bin; do
  cmp "$work_top/small/host/$file" "$work_top/fast/host/$file" ||
    { echo "target_draw: $file of the ZEFDEC_FAST build differs from the default build's" >&2; exit 1; }
done

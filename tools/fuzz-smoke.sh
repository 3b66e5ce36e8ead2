#!/usr/bin/env bash
# Builds every libFuzzer target (clang-14, ASan, UBSan) and runs each over
# its seeds and saved corpus, then fuzzes it for the given seconds.
#   tools/fuzz-smoke.sh [seconds per target, default 60] [build folder]
# A crash, leak, sanitizer report or timeout fails the script; the input
# that caused it is left in the build folder as crash-*, leak-* or timeout-*.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-60}
build=${2:-build-fuzz}

mkdir -p "$build"
build=$(cd "$build" && pwd)

command -v clang-14 > /dev/null ||
  { echo "fuzz-smoke: clang-14 is not installed: install the Debian packages clang-14 and libclang-rt-14-dev"; exit 1; }
cmake -S fuzz -B "$build" -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null || exit 1
cmake --build "$build" -j"$(nproc)" || exit 1

# target, dictionary, seed folder, longest input (the writer's inputs only
# paint small images; longer ones would just slow it down)
targets=(
  "reader_fuzz fuzz/zef.dict fuzz/seeds/reader 4096"
  "writer_fuzz - - 512"
  "script_fuzz fuzz/script.dict fuzz/seeds/script 4096"
  "device_fuzz fuzz/zef.dict fuzz/seeds/device 4096"
)

failed=()
for entry in "${targets[@]}"; do
  read -r name dict seeds max_len <<<"$entry"
  binary="$build/$name"
  if [ ! -x "$binary" ]; then
    echo "fuzz-smoke: $name not built, skipped"
    continue
  fi
  corpus="$build/corpus-${name%_fuzz}"
  mkdir -p "$corpus"
  args=(-max_total_time="$seconds" -max_len="$max_len" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
        -artifact_prefix="$build/$name-")
  [ "$dict" != - ] && args+=(-dict="$root/$dict")
  dirs=("$corpus")
  [ "$seeds" != - ] && [ -d "$seeds" ] && dirs+=("$root/$seeds")
  [ -d "fuzz/corpus-${name%_fuzz}" ] && dirs+=("$root/fuzz/corpus-${name%_fuzz}")
  echo "fuzz-smoke: $name for ${seconds}s"
  if ! (cd "$build" && "./$name" "${args[@]}" "${dirs[@]}" >"$name.log" 2>&1); then
    tail -n 40 "$build/$name.log"
    failed+=("$name")
  fi
  grep -E '^stat::number_of_executed_units' "$build/$name.log" | sed "s/^/fuzz-smoke: $name /"
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz-smoke: FAILED: ${failed[*]}"
  exit 1
fi
echo "fuzz-smoke: all targets passed"

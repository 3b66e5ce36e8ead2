#!/usr/bin/env bash
# Installs, builds and runs the whole test suite through CTest: the normal
# build, then the same suite under AddressSanitizer, UndefinedBehaviorSanitizer
# and LeakSanitizer, then a short run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

bash tools/install-deps.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs" | tee build/ctest.log

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DZEF_SANITIZE=ON
cmake --build build-sanitize -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-sanitize --output-on-failure -j"$jobs" | tee build-sanitize/ctest.log

if [ -f tools/fuzz-smoke.sh ]; then
  bash tools/fuzz-smoke.sh "${ZEF_FUZZ_SECONDS:-60}"
fi

# Skips are only for what is optional by design; name them, so that one
# that hides a missing tool is seen.
skipped=$(awk '/\*\*\*Skipped/ { for (i = 1; i < NF; i++) if ($i ~ /^#[0-9]+:$/) {
                   split(FILENAME, path, "/"); print "  " $(i + 1) " (" path[1] ")" } }' \
          build/ctest.log build-sanitize/ctest.log)
if [ -n "$skipped" ]; then
  echo "skipped tests:"
  echo "$skipped"
else
  echo "no test was skipped"
fi

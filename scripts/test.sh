#!/usr/bin/env bash
# Runs the whole test suite: the Release build's tests, then the ASan+UBSan build's tests,
# then the fuzz targets for a short time each.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="$(nproc)"
export QT_QPA_PLATFORM=offscreen

echo "== Release tests"
ctest --test-dir build --output-on-failure -j"$jobs" --timeout 900

echo "== ASan+UBSan tests"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFW_SANITIZE=ON -DFW_BUILD_GUI=OFF
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs" --timeout 900 -LE 'slow|qemu'

if [ -x scripts/fuzz.sh ]; then
  echo "== Fuzz targets"
  scripts/fuzz.sh
fi

#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a short time
# (FW_FUZZ_SECONDS, default 60). A crash, leak or hang fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${FW_FUZZ_SECONDS:-60}"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFW_FUZZ=ON -DFW_BUILD_GUI=OFF \
  -DFW_BUILD_TESTS=OFF -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
targets=$(ninja -C build-fuzz -t targets all | sed -n 's/^\(fw_fuzz_[a-z0-9_]*\): .*/\1/p' | sort -u)
for t in $targets; do
  cmake --build build-fuzz --target "$t" -j"$(nproc)"
  exe=$(find build-fuzz -type f -name "$t" -perm -u+x | head -1)
  corpus="build-fuzz/corpus/$t"
  mkdir -p "$corpus"
  seeds="fuzz/$(basename "$(dirname "$exe")")/seeds"
  echo "== $t for ${seconds}s"
  ASAN_OPTIONS=detect_leaks=1 "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    "$corpus" $( [ -d "$seeds" ] && echo "$seeds" )
done

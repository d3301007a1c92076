#!/usr/bin/env bash
# Builds the native benchmarks without sanitizers and runs them all.
set -euo pipefail
source "$(dirname "$0")/common.sh"
"$root/scripts/setup.sh"
dir=$build/native-bench
[ -f "$dir/build.ninja" ] ||
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DTARVIX_SANITIZE=OFF -DTARVIX_BENCH=ON -DTARVIX_TESTS=OFF >/dev/null
cmake --build "$dir" -j "$jobs"
for b in "$dir"/bench/*_bench; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" "$@"
done

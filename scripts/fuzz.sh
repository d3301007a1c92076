#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer and runs each one.
#   scripts/fuzz.sh [SECONDS] [TARGET...]   (default 30 s per target, all targets)
# The seed corpus in fuzz/corpus/<target> is read, never written: new inputs
# go to a scratch folder. A crash leaves its input in build/fuzz/crashes.
# fuzz/<target>.options, where present, holds further libFuzzer options for
# that target on one line (e.g. a -max_len that reaches its bounds).
# TARVIX_FUZZ_RUNS=N also ends each run after N inputs (the long runs:
#   TARVIX_FUZZ_RUNS=10000000 scripts/fuzz.sh 1800).
set -euo pipefail
source "$(dirname "$0")/common.sh"
seconds=${1:-30}
shift || true
dir=$build/fuzz
[ -f "$dir/build.ninja" ] ||
  CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARVIX_FUZZ=ON -DTARVIX_TESTS=OFF >/dev/null
cmake --build "$dir" -j "$jobs"
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in "$root"/fuzz/corpus/*/; do targets+=("$(basename "$f")"); done
fi
mkdir -p "$dir/crashes"
for t in "${targets[@]}"; do
  echo "== $t: ${seconds}s"
  scratch=$(mktemp -d)
  log=$dir/$t.log
  status=0
  options=()
  [ -f "$root/fuzz/$t.options" ] && read -r -a options <"$root/fuzz/$t.options"
  [ -n "${TARVIX_FUZZ_RUNS:-}" ] && options+=(-runs="$TARVIX_FUZZ_RUNS")
  "$dir/fuzz/$t" -max_total_time="$seconds" -print_final_stats=1 "${options[@]}" \
    -artifact_prefix="$dir/crashes/$t-" "$scratch" "$root/fuzz/corpus/$t" >"$log" 2>&1 || status=$?
  rm -rf "$scratch"
  grep -aE '^(stat::number_of_executed_units|stat::average_exec_per_sec|SUMMARY)' "$log" || true
  if [ "$status" -ne 0 ]; then
    echo "fuzz target $t failed; its output:"
    tail -n 40 "$log"
    exit 1
  fi
done

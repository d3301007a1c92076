#!/usr/bin/env bash
# Builds both targets and runs every test: the native core under ASan/UBSan,
# then the Windows product under wine.
set -euo pipefail
source "$(dirname "$0")/common.sh"
"$root/scripts/setup.sh"

echo "== native build (g++, AddressSanitizer + UBSan)"
configure_native
cmake --build "$build/native" -j "$jobs"
echo "== native tests"
ctest --test-dir "$build/native" -j "$jobs" --output-on-failure --timeout 600

echo "== fuzz targets (clang, libFuzzer): a short run each"
"$root/scripts/fuzz.sh" "${TARVIX_FUZZ_SECONDS:-30}"

echo "== win64 build (mingw-w64)"
configure_win64
cmake --build "$build/win64" -j "$jobs"
echo "== win64 tests (wine)"
trap 'stop_wineserver "$build/win64"' EXIT
ctest --test-dir "$build/win64" -j "$jobs" --output-on-failure --timeout 600

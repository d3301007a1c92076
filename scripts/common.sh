# Sourced by the scripts: build directories and configure helpers.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TARVIX_BUILD_DIR:-$root/build}
jobs=${TARVIX_JOBS:-$(nproc)}

configure_win64() {
  [ -f "$build/win64/build.ninja" ] ||
    cmake -S "$root" -B "$build/win64" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" >/dev/null
}
configure_native() {
  [ -f "$build/native/build.ninja" ] ||
    cmake -S "$root" -B "$build/native" -G Ninja >/dev/null
}
# Ends the persistent wineserver of a build tree's prefix.
stop_wineserver() {
  WINEPREFIX="$1/wineprefix" wineserver -k >/dev/null 2>&1 || true
}

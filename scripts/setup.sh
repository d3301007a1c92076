#!/usr/bin/env bash
# Installs what the builds and tests need on a Debian machine (as root),
# skipping what is already there.
set -euo pipefail
packages=(
  cmake ninja-build g++ python3
  g++-mingw-w64-x86-64 mingw-w64-tools   # cross compiler, widl
  libwine-dev wine64 wine                # wine and the IDL files widl imports
  xvfb xauth                             # windows under a virtual display
  googletest libbenchmark-dev            # tests (both builds), benchmarks
  pkg-config libgmime-3.0-dev            # baseline of the MIME benchmark only
  clang libclang-rt-14-dev               # libFuzzer
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: run as root (apt-get install ${missing[*]})" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi

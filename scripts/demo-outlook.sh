#!/usr/bin/env bash
# Demo of the add-in in the stand-in Outlook: registers norvella_x64.dll
# with regsvr32, runs outlook-standin.exe over standin/scenarios/outlook-demo.txt
# (it finds the add-in through the registry as Outlook does and fires its
# events), prints which events reached the add-in's scan and with which
# arguments, then unregisters the add-in.
# Usage: scripts/demo-outlook.sh <win64-build-dir>
set -eu
if [ $# -lt 1 ] || [ ! -f "$1/CMakeCache.txt" ]; then
  echo "usage: $0 <win64-build-dir>" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
run="$root/cmake/wine-run.sh"
export TARVIX_WINEPREFIX="${TARVIX_WINEPREFIX:-$build/wineprefix}"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

dll="$build/addin/norvella_x64.dll"
host="$build/standin/outlook/outlook-standin.exe"
for f in "$dll" "$host"; do
  [ -f "$f" ] || { echo "missing $f (build the win64 tree first)" >&2; exit 2; }
done
trap '"$run" regsvr32 /s /u "$(winpath "$dll")" >/dev/null 2>&1 || true' EXIT
echo "\$ regsvr32 /s norvella_x64.dll"
"$run" regsvr32 /s "$(winpath "$dll")"
echo "\$ outlook-standin outlook-demo.txt"
TARVIX_WINE_XVFB="probe:$host --window-probe" "$run" "$host" "$(winpath "$root/standin/scenarios/outlook-demo.txt")" |
  tr -d '\r' | grep -v '^X connection to'

#!/usr/bin/env bash
# Demo of the console client against the stand-in automation engine.
# Usage: scripts/demo-console.sh <win64-build-dir>
# Registers the stand-in engine (standin/r6standin.dll) in that build's wine
# prefix, then runs vexal-client.exe with a set of operations and prints its
# real output. The engine's answers come from standin/scenarios/demo.txt.
set -eu
if [ $# -lt 1 ] || [ ! -f "$1/CMakeCache.txt" ]; then
  echo "usage: $0 <win64-build-dir>" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
run="$root/cmake/wine-run.sh"
export TARVIX_WINEPREFIX="${TARVIX_WINEPREFIX:-$build/wineprefix}"
# Windows path of a Linux path (wine maps / to drive Z:).
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

client="$build/console/vexal-client.exe"
standin="$build/standin/r6standin.dll"
for f in "$client" "$standin"; do
  [ -f "$f" ] || { echo "missing $f (build the win64 tree first)" >&2; exit 2; }
done

"$run" regsvr32 /s "$(winpath "$standin")"
export TARVIX_R6_SCENARIO="$(winpath "$root/standin/scenarios/demo.txt")"

show() {
  echo "\$ vexal-client $*"
  "$run" "$client" "$@" </dev/null | tr -d '\r'
  echo "[exit code ${PIPESTATUS[0]}]"
  echo
}

show -Detect -IsProtectionEnabled -EngineVersion -Viruslist ALL -ShowUpdateServers -GUILanguage \
  -ScanFile eicar.com
show -VDBVersion -VDBTime -VDBSignatureCount -ASInfo -StartScan removable -GetLastScan FULL
show -Delete 18 -SwapSDB AntiSPAM.sdb
show -ScanFile
# The callback wait reads one character: Return comes two seconds later,
# after the stand-in has fired its virus-found event.
echo "\$ vexal-client -Callback   (Return pressed after 2 s)"
(sleep 2; echo) | "$run" "$client" -Callback | tr -d '\r'
echo

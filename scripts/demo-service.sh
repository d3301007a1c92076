#!/usr/bin/env bash
# Demo of the command client against the stand-in security service.
# Usage: scripts/demo-service.sh <win64-build-dir>
# Starts tarvix-service-standin.exe in the background (answers from
# standin/scenarios/service-demo.txt), runs tarvix-demo-client.exe, which
# sends status, scan, spam and LOG commands over the pipe and prints the
# results, then stops the service by closing its input and shows what the
# service saw and logged.
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

service="$build/standin/service/tarvix-service-standin.exe"
client="$build/standin/service/tarvix-demo-client.exe"
details="$build/standin/service/tarvix-details-demo.exe"
for f in "$service" "$client" "$details"; do
  [ -f "$f" ] || { echo "missing $f (build the win64 tree first)" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'exec 3>&- 2>/dev/null || true; rm -rf "$work"' EXIT
mkfifo "$work/input"
log="$work/service.log"
: >"$log"

echo "\$ tarvix-service-standin --scenario service-demo.txt --log service.log &"
"$run" "$service" --scenario "$(winpath "$root/standin/scenarios/service-demo.txt")" \
  --log "$(winpath "$log")" <"$work/input" >"$work/service.out" 2>&1 &
pid=$!
exec 3>"$work/input"  # the service runs while this end stays open
sleep 3               # let it create its pipe

echo "\$ tarvix-demo-client"
"$run" "$client" </dev/null | tr -d '\r'
echo

exec 3>&-  # end of input: the service stops
wait "$pid" || true
echo "-- the service's output:"
tr -d '\r' <"$work/service.out"
echo
echo "-- the service's log (LOG commands received):"
cat "$log"

echo
echo "== the add-in's service side: application details, pipe watcher and listener"
mkfifo "$work/input2"
echo "\$ tarvix-service-standin --scenario listener-demo.txt &"
"$run" "$service" --scenario "$(winpath "$root/standin/scenarios/listener-demo.txt")" \
  <"$work/input2" >"$work/service2.out" 2>&1 &
pid=$!
exec 3>"$work/input2"
sleep 3
# The user's language choice starts as English; the service changes it.
"$run" reg add 'HKCU\SOFTWARE\Zelvok\tarvix' /v Language /d en /f >/dev/null 2>&1 || true
echo "\$ tarvix-details-demo --seconds 9"
"$run" "$details" --seconds 9 </dev/null | tr -d '\r'
exec 3>&-
wait "$pid" || true
echo "-- the service's output:"
tr -d '\r' <"$work/service2.out"
"$run" reg delete 'HKCU\SOFTWARE\Zelvok\tarvix' /v Language /f >/dev/null 2>&1 || true

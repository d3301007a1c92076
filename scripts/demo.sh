#!/usr/bin/env bash
# The main job on the stand-ins: builds the Windows product, runs
# vexal-client.exe under wine against the stand-in automation engine, then
# the add-in's command client against the stand-in security service.
set -euo pipefail
source "$(dirname "$0")/common.sh"
"$root/scripts/setup.sh"
configure_win64
cmake --build "$build/win64" -j "$jobs" --target vexal-client r6standin \
  tarvix-service-standin tarvix-demo-client tarvix-details-demo >/dev/null
trap 'stop_wineserver "$build/win64"' EXIT
"$root/scripts/demo-console.sh" "$build/win64"
echo "== the command client and the stand-in security service"
"$root/scripts/demo-service.sh" "$build/win64"

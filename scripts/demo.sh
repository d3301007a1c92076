#!/usr/bin/env bash
# The main job on the stand-ins: builds the Windows product, runs
# vexal-client.exe under wine against the stand-in automation engine, the
# add-in's command client and service side against the stand-in security
# service, then the registered add-in in the stand-in Outlook.
set -euo pipefail
source "$(dirname "$0")/common.sh"
"$root/scripts/setup.sh"
configure_win64
cmake --build "$build/win64" -j "$jobs" --target vexal-client r6standin \
  tarvix-service-standin tarvix-demo-client tarvix-details-demo norvella_x64 outlook-standin >/dev/null
trap 'stop_wineserver "$build/win64"' EXIT
"$root/scripts/demo-console.sh" "$build/win64"
echo "== the command client and the stand-in security service"
"$root/scripts/demo-service.sh" "$build/win64"
echo "== the add-in in the stand-in Outlook"
"$root/scripts/demo-outlook.sh" "$build/win64"

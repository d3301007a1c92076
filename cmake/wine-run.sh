#!/usr/bin/env bash
# Runs a Windows program under wine in the build tree's own prefix.
# The prefix is booted once (serialized with flock) and one long-lived
# wineserver serves every test of a run.
#
#   TARVIX_WINEPREFIX  prefix to use (default: <cwd's build tree>/wineprefix)
#   TARVIX_WINE_XVFB=1 run under xvfb-run (for tests that open windows)
#   TARVIX_WINE_XVFB=probe:<program and arguments>  the same, and first run
#                      the program until it exits 0 (windows work)
set -u
here=$(cd "$(dirname "$0")" && pwd)
prefix=${TARVIX_WINEPREFIX:-}
if [ -z "$prefix" ]; then
  # Find the build tree: the nearest directory upwards holding CMakeCache.txt.
  d=$PWD
  while [ "$d" != / ] && [ ! -f "$d/CMakeCache.txt" ]; do d=$(dirname "$d"); done
  [ "$d" = / ] && d=$PWD
  prefix=$d/wineprefix
fi
export WINEPREFIX=$prefix
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
"$here/wine-prefix.sh" "$prefix" || exit 125

out=$(mktemp)
trap 'rm -f "$out"' EXIT
# Processes wine starts on demand (explorer.exe) inherit stdout; keep the
# test's output in a file so the test runner does not wait for them.
xvfb=${TARVIX_WINE_XVFB:-0}
if [ "$xvfb" != 0 ]; then
  case $xvfb in probe:*) export TARVIX_WINDOW_PROBE=${xvfb#probe:} ;; esac
  # A desktop that this wineserver started for a process without a display
  # moves onto the display only after some process with one asked for it,
  # and until then new processes cannot make windows. The probe program
  # exits with 0 once it could make one: it is run until it succeeds (at
  # most 20 s); without one, the desktop is asked for once and given 3 s.
  xvfb-run -a sh -c '
    if [ -n "${TARVIX_WINDOW_PROBE:-}" ]; then
      i=0
      until wine $TARVIX_WINDOW_PROBE >/dev/null 2>&1 || [ $i -ge 20 ]; do i=$((i + 1)); sleep 1; done
    else
      wine rundll32.exe user32.dll,GetDesktopWindow >/dev/null 2>&1; sleep 3
    fi
    exec wine "$@"' sh "$@" >"$out" 2>&1 </dev/null
else
  wine "$@" >"$out" 2>&1
fi
rc=$?
cat "$out"
exit $rc

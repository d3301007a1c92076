#!/usr/bin/env bash
# Boots a wine prefix once and keeps a wineserver alive for it.
# Usage: wine-prefix.sh PREFIX
set -u
prefix=$1
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
mkdir -p "$(dirname "$prefix")"
quiet() { "$@" </dev/null >/dev/null 2>&1 9>&-; }
(
  flock 9
  if [ ! -f "$prefix/.tarvix-booted" ]; then
    # The server must not inherit the lock (fd 9): it outlives this script.
    quiet wineserver -p 600
    quiet wine wineboot -i
    # No window manager under Xvfb: unmanaged windows close at once.
    quiet wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f
    # A crash must end the test, not open a modal debugger dialog.
    quiet wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
    touch "$prefix/.tarvix-booted"
  fi
) 9>"$prefix.lock"
# A persistent server makes each test start in milliseconds; starting one
# when one already runs for this prefix does nothing.
quiet wineserver -p 600
exit 0

#!/usr/bin/env bash
# Runs the Windows build under Wine: its unit tests through CTest, then the
# end-to-end test of p50x-bridge.exe, which a native test program drives (it
# makes the pseudo-terminals and runs the host simulator).
# Usage: scripts/test-windows.sh WINDOWS_BUILD_DIR NATIVE_BUILD_DIR
set -euo pipefail
win=$(realpath "$1")
native=$(realpath "$2")

# A prefix of our own inside the build folder; no display is needed for
# console programs, and Wine's own chatter stays off.
export WINEPREFIX="$win/wineprefix"
export WINEDEBUG=-all
# No .NET or HTML engine: nothing here needs them, and they would be offered
# for download while the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml="

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Making the Wine prefix $WINEPREFIX"
  wineboot --init >/dev/null 2>&1
  wineserver -w
fi

# One server for the whole run: without it every test start waits for a new
# server. It is ended however this script ends. It runs in the foreground of
# this session (-f, in the background here) rather than as a daemon: a daemon
# leads a session of its own, and the first pseudo-terminal it opens for a COM
# port would become its controlling terminal, so that closing the line in a
# test would send it SIGHUP. Clients started meanwhile wait for it by Wine's
# own start-up lock.
wineserver -f -p </dev/null >"$win/wineserver.log" 2>&1 &
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
# The prefix's services start with the first program. Started here, they do
# not inherit the output pipe of a test, which CTest would wait on until they
# end (that is, for ever).
wine cmd /c exit </dev/null >/dev/null 2>&1 || true

ctest --test-dir "$win" --output-on-failure -j "${JOBS:-2}"
P50X_WINE_BRIDGE="$win/p50x-bridge.exe" "$native/tests/test_wine_e2e"

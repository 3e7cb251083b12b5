#!/usr/bin/env bash
# `make run`: the host simulator and the bridge on the example settings in
# examples/, with a virtual serial port for the control software.
set -euo pipefail
build=${1:-build}
cd "$(dirname "$0")/.."

events="$build/host-events"
log="$build/hostsim.log"
rm -f "$events"
mkfifo "$events"
# Held open for reading and writing, so the simulator never sees its input end
# and anyone may write events into it.
exec 3<>"$events"
"$build/p50x-hostsim" <&3 >"$log" 2>&1 &
sim=$!
trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; rm -f "$events"' EXIT

for _ in $(seq 100); do
  grep -q listening "$log" 2>/dev/null && break
  kill -0 "$sim" 2>/dev/null || break
  sleep 0.05
done
if ! grep -q listening "$log" 2>/dev/null; then
  echo "The host simulator did not start:" >&2
  cat "$log" >&2
  exit 1
fi

cat <<EOT
Host simulator: listening on 127.0.0.1 ports 31286 (events) and 31285 (commands).
  Its log:            tail -f $log
  Send a host event:  echo '150;1;K1' > $events     (contact K1 occupied)
Control software: open $PWD/$build/ttyP50X as its serial port (57600 baud, 8N1).
Traffic monitor:  $build/monitor.txt
  In words, live:     $build/p50x-trace -f $build/monitor.txt
Press ESC to end.

EOT
"$build/p50x-bridge" examples/Config.txt || true

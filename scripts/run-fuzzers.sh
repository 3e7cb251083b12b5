#!/usr/bin/env bash
# Runs every fuzz target for the given number of seconds on a copy of its seed
# corpus. Any finding fails the run.
set -euo pipefail
build=${1:-build-fuzz}
seconds=${2:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
status=0
for target in "$build"/fuzz/*; do
  [ -f "$target" ] && [ -x "$target" ] || continue
  name=$(basename "$target")
  work="$root/fuzz/corpus-work/$name"
  mkdir -p "$work"
  [ -d "$root/fuzz/corpus/$name" ] && cp -n "$root/fuzz/corpus/$name"/* "$work"/ 2>/dev/null || true
  echo "== $name for ${seconds}s"
  log="$root/fuzz/corpus-work/$name.log"
  if ! "$target" -max_total_time="$seconds" -print_final_stats=1 "$work" \
       -artifact_prefix="$root/fuzz/corpus-work/$name-" >"$log" 2>&1; then
    status=1
    echo "!! $name found a fault; see $log"
  fi
  tail -n 12 "$log"
done
exit $status

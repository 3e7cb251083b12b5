#!/usr/bin/env bash
# Runs every fuzz target on a copy of its seed corpus, with its dictionary
# (fuzz/<target>.dict) and its settings (fuzz/<target>.options, one libFuzzer
# flag a line), one target after the other. Each runs for the given number of
# seconds, or, when runs is given, until it has run that many inputs. Any
# finding fails the run. Ends with a table: runs, time and findings per target.
#   run-fuzzers.sh BUILD SECONDS [RUNS]
set -euo pipefail
build=${1:-build-fuzz}
seconds=${2:-60}
runs=${3:-}
root=$(cd "$(dirname "$0")/.." && pwd)
status=0
# 10000000 -> 10,000,000
grouped() { sed ':a;s/\B[0-9]\{3\}\>/,&/;ta' <<<"$1"; }
table="| target | runs | time | findings |"$'\n'"|---|---|---|---|"
for target in "$build"/fuzz/*; do
  [ -f "$target" ] && [ -x "$target" ] || continue
  name=$(basename "$target")
  work="$root/fuzz/corpus-work/$name"
  mkdir -p "$work"
  [ -d "$root/fuzz/corpus/$name" ] && cp -n "$root/fuzz/corpus/$name"/* "$work"/ 2>/dev/null || true
  flags=()
  if [ -f "$root/fuzz/$name.options" ]; then
    while read -r flag; do
      [[ -z "$flag" || "$flag" == \#* ]] || flags+=("$flag")
    done <"$root/fuzz/$name.options"
  fi
  [ -f "$root/fuzz/$name.dict" ] && flags+=("-dict=$root/fuzz/$name.dict")
  if [ -n "$runs" ]; then
    flags+=("-runs=$runs")
    echo "== $name for $runs runs"
  else
    flags+=("-max_total_time=$seconds")
    echo "== $name for ${seconds}s"
  fi
  log="$root/fuzz/corpus-work/$name.log"
  findings=0
  started=$(date +%s)
  if ! "$target" "${flags[@]}" -print_final_stats=1 -artifact_prefix="$root/fuzz/corpus-work/$name-" \
       "$work" >"$log" 2>&1; then
    status=1
    findings=1
    echo "!! $name found a fault; see $log"
  fi
  took=$(( $(date +%s) - started ))
  tail -n 12 "$log"
  done_runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  table+=$'\n'"| \`$name\` | $(grouped "${done_runs:-0}") | ${took} s | $findings |"
done
echo
echo "$table"
exit $status

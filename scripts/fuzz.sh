#!/usr/bin/env bash
# Runs every fuzz target of build-fuzz/ for the given number of seconds each (default 30),
# starting from the committed seed corpus. Findings are written to build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
mkdir -p build-fuzz/findings
status=0
for target in build-fuzz/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  seeds="fuzz/corpus/${name#fuzz_}"
  work="build-fuzz/corpus/${name#fuzz_}"
  mkdir -p "$work"
  echo "== $name for ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="build-fuzz/findings/${name}-" "$work" "$seeds" 2>build-fuzz/"$name".log; then
    tail -n 40 build-fuzz/"$name".log
    echo "FAILED: $name (see build-fuzz/$name.log and build-fuzz/findings/)"
    status=1
  else
    grep -E '^stat::number_of_executed_units' build-fuzz/"$name".log || true
  fi
done
exit $status

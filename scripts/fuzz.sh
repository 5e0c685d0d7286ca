#!/usr/bin/env bash
# Runs every fuzz target of build-fuzz/ (each build-fuzz/fuzz/fuzz_<name> the fuzz build made, so a
# new target is run as soon as it is built) for the given number of seconds each (default 30),
# starting from its committed seed corpus fuzz/corpus/<name>/ when there is one. Findings are
# written to build-fuzz/findings/.
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
  corpora=("$work")
  [ -d "$seeds" ] && corpora+=("$seeds")
  echo "== $name for ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="build-fuzz/findings/${name}-" "${corpora[@]}" 2>build-fuzz/"$name".log; then
    tail -n 40 build-fuzz/"$name".log
    echo "FAILED: $name (see build-fuzz/$name.log and build-fuzz/findings/)"
    status=1
  else
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec)' build-fuzz/"$name".log || true
  fi
done
exit $status

#!/usr/bin/env bash
# Installs what is missing, builds everything, runs every test offscreen, builds the Debian
# packages and checks them (scripts/package-check.sh), then runs each fuzz target for a bounded
# time (FUZZ_SECONDS, 30 by default; 0 skips fuzzing).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${JOBS:-$(nproc)}
fuzz_seconds=${FUZZ_SECONDS:-30}

scripts/deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs" --timeout 600)
scripts/package.sh
scripts/package-check.sh

if [ "$fuzz_seconds" -gt 0 ]; then
  cmake -S . -B build-fuzz -G Ninja -DZELNET_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build build-fuzz -j "$jobs"
  scripts/fuzz.sh "$fuzz_seconds"
fi
echo "All tests passed."

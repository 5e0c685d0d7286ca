#!/usr/bin/env bash
# Builds the Debian packages velkor, velkup (with velkup-batch when it is built) and bvsim into
# build/packages/. Installs what is missing and builds only the programs first.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=(velkor velkup bvsim zelnet_package_files)
if cmake --build build --target help | grep -q '^velkup-batch:'; then targets+=(velkup-batch); fi
cmake --build build -j "${JOBS:-2}" --target "${targets[@]}"

rm -f build/packages/*.deb
(cd build && cpack -G DEB -B "$root/build/packages" >/dev/null)
ls -l build/packages/*.deb

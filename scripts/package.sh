#!/usr/bin/env bash
# Builds the Debian packages velkor, velkup (with velkup-batch when it is built), zelnet-ports and
# bvsim into build/packages/. Installs what is missing and builds only the programs first.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# The packaged programs and their generated files (manuals, changelogs), nothing else.
cmake --build build -j "${JOBS:-2}" --target zelnet_package_files

rm -f build/packages/*.deb
(cd build && cpack -G DEB -B "$root/build/packages" >/dev/null)
ls -l build/packages/*.deb

#!/usr/bin/env bash
# The demo: installs what is missing, builds, starts the simulated validator (bvsim) on a
# pseudo-terminal linked at a fixed path and, once Velkor is built, Velkor with COM1 on that
# link, so its start-up search finds the validator. bvsim stays in the foreground: type its
# commands (help, insert 2, jam, power cycle, quit) while Velkor runs.
# Extra arguments go to bvsim (e.g. --baud 9600). BVSIM_LINK overrides the link path.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "${JOBS:-2}"

link=${BVSIM_LINK:-/tmp/zelnet-bvsim}
if [ -L "$link" ]; then rm -f "$link"; fi

velkor=build/velkor/velkor
if [ -x "$velkor" ] && [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found (DISPLAY and WAYLAND_DISPLAY are empty): Velkor runs offscreen," \
    "invisible; run this from a desktop session (or under xvfb-run) to see its window."
  export QT_QPA_PLATFORM=offscreen
fi
if [ -x "$velkor" ]; then
  # Velkor starts once the link exists, with COM1 on it.
  (
    for _ in $(seq 100); do [ -e "$link" ] && break; sleep 0.1; done
    ZELNET_COM1="$link" exec "$velkor"
  ) &
  velkor_pid=$!
  trap 'kill "$velkor_pid" 2>/dev/null || true' EXIT
  echo "Velkor starts with COM1 on $link; type commands for bvsim below (help lists them)."
else
  echo "Velkor is not built yet ($velkor missing): bvsim runs alone on $link."
  echo "Attach a program with ZELNET_COM1=$link; type help for bvsim's commands."
fi
build/sim/bvsim --link "$link" "$@"

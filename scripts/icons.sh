#!/usr/bin/env bash
# Renders the program icons (packaging/icons/*.svg) into the committed PNG sizes of the hicolor
# theme. Run after changing an SVG; needs rsvg-convert (librsvg2-bin, installed by deps.sh).
set -euo pipefail
cd "$(dirname "$0")/../packaging/icons"
for svg in *.svg; do
  name=${svg%.svg}
  for size in 16 22 24 32 48 64 128 256; do
    mkdir -p "hicolor/${size}x${size}/apps"
    rsvg-convert -w "$size" -h "$size" "$svg" -o "hicolor/${size}x${size}/apps/$name.png"
  done
done

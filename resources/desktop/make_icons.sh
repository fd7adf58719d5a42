#!/usr/bin/env bash
# Renders the program icon (velkaro.svg, drawn for this project) into the PNG sizes of the
# hicolor icon theme: icons/<size>/velkaro.png. Rerun after changing the drawing.
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 22 24 32 48 64 128 256; do
    mkdir -p "icons/$size"
    if command -v rsvg-convert >/dev/null; then
        rsvg-convert -w "$size" -h "$size" velkaro.svg -o "icons/$size/velkaro.png"
    else
        convert -background none -density 384 velkaro.svg -resize "${size}x${size}" \
            "icons/$size/velkaro.png"
    fi
done

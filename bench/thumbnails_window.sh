#!/bin/sh
# The Thumbnails view of the main window: first screen of a folder of 200 photo-like
# 4000 x 3000 JPEGs and of 2,000 pictures (cache empty, then warm), the largest event-loop gap
# while scrolling the 2,000, and the peak memory. The pictures are made here with
# bench/make_photo.py and cjpeg (a 4000 x 3000 photo, and a 1600 x 1200 one for the 2,000) and
# removed afterwards; the benchmark links them into its folders.
#
# Usage: bench/thumbnails_window.sh [BUILD_DIR]
# Needs python3 and cjpeg (libjpeg-turbo-progs).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
program=$build/bench/bench_gui_thumbnails_window
[ -x "$program" ] || { echo "not built: $program (VELKARO_GUI=ON VELKARO_BENCH=ON)" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 "$root/bench/make_photo.py" "$work" 4000 3000 --tint
cjpeg -quality 90 "$work/rgb.ppm" > "$work/photo.jpg"
python3 "$root/bench/make_photo.py" "$work" 1600 1200 --seed 99
cjpeg -quality 90 "$work/rgb.ppm" > "$work/small.jpg"
rm -f "$work/rgb.ppm"
echo "cores: $(nproc), load: $(cut -d' ' -f1-3 /proc/loadavg)"
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$program" "$work/photo.jpg" "$work/small.jpg"

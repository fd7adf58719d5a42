#!/bin/sh
# Opening a 16000 x 12000 progressive JPEG in Fit View (the pane 957 x 700): time to the first
# paint, to the end of decoding, and the peak memory against twice the shown picture, the file
# and 64 MiB; then the same picture in Full View (100 %). The picture is made here (a 1000 x 750
# gradient with noise from ImageMagick, tiled by pnmtile, encoded by cjpeg -progressive) and
# removed afterwards.
#
# Usage: bench/large_jpeg.sh [BUILD_DIR] [RUNS]
# Needs ImageMagick's convert, pnmtile (netpbm) and cjpeg (libjpeg-turbo-progs).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
runs=${2:-3}
viewer=$build/bench/bench_gui_viewer
[ -x "$viewer" ] || { echo "not built: $viewer (VELKARO_GUI=ON VELKARO_BENCH=ON)" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

convert -size 1000x750 gradient:'#3060a0-#e0c080' -attenuate 0.4 +noise Gaussian "$work/tile.ppm"
pnmtile 16000 12000 "$work/tile.ppm" | cjpeg -progressive -quality 90 > "$work/large.jpg"
grep -m1 'model name' /proc/cpuinfo | sed 's/.*: /CPU: /'
echo "cores: $(nproc), load: $(cut -d' ' -f1-3 /proc/loadavg)"
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$viewer" --large "$work/large.jpg" "$runs"

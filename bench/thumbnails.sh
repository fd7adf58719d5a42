#!/bin/sh
# Times the thumbnail service against vipsthumbnail on a folder of 200 photo-like 4000 x 3000
# JPEGs without EXIF thumbnails (four different pictures, 50 copies each), and its memory over a
# folder of 2,000 (links to those): see bench/gui_thumbnails.cpp for what is measured.
#
#   bench/thumbnails.sh [BUILD_DIR]     (default: build)
#
# The photos are made once in $BENCH_CACHE (default /tmp/velkaro-bench-thumbnails).
# Needs: python3, cjpeg (libjpeg-turbo-progs), vipsthumbnail (libvips-tools).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
cache=${BENCH_CACHE:-${TMPDIR:-/tmp}/velkaro-bench-thumbnails}
bench=$build/bench/bench_gui_thumbnails
[ -x "$bench" ] || { echo "bench_gui_thumbnails not found: $bench" >&2; exit 2; }
mkdir -p "$cache/photos" "$cache/many"
cd "$cache"
for seed in 1 2 3 4; do
    [ -s "seed$seed.jpg" ] && continue
    mkdir -p "make$seed"
    python3 "$root/bench/make_photo.py" "make$seed" 4000 3000 --seed "$seed" --tint
    cjpeg -quality 90 -outfile "seed$seed.jpg" "make$seed/rgb.ppm"
    rm -rf "make$seed"
done
i=0
while [ $i -lt 200 ]; do
    name=$(printf 'photos/IMG_%04d.jpg' $i)
    [ -s "$name" ] || cp "seed$((i % 4 + 1)).jpg" "$name"
    i=$((i + 1))
done
i=0
while [ $i -lt 2000 ]; do
    name=$(printf 'many/DSC_%05d.jpg' $i)
    [ -e "$name" ] || ln -s "../$(printf 'photos/IMG_%04d.jpg' $((i % 200)))" "$name"
    i=$((i + 1))
done
QT_QPA_PLATFORM=offscreen exec "$bench" "$cache/photos" "$cache/many"

#!/bin/sh
# Times velkaro-decode on a large RGB TIFF (8 bits a sample) stored uncompressed, with PackBits,
# with deflate, with LZW after horizontal differencing (predictor 2), and with deflate in
# 256 x 256 tiles, against libtiff's tifftopnm writing the same pixels as a PNM. The picture is
# made from generated pixels and written by netpbm's pnmtotiff (its default strips of about
# 8 KiB), the tiled copy by libtiff's tiffcp; each figure is the best of several runs (processor
# time), taken in pairs in one run. The pixels are compared too. Target: at most 1.0x
# tifftopnm's time for each file.
#
#   bench/tiff_vs_tifftopnm.sh [VELKARO_DECODE] [WIDTH HEIGHT]
#
# Needs python3, pnmtotiff (Debian: netpbm), tifftopnm and tiffcp (Debian: libtiff-tools).
set -eu
. "$(dirname "$0")/common.sh"
bench_init 4000 3000 "$@"

# Photo-like pixels: every row a shifted slice of a long pseudo-random walk, with flat bands so
# that PackBits finds runs.
make_photo --seed 4321 --flat 200,3

pnmtotiff -none "$work/rgb.ppm" > "$work/none.tif" 2>/dev/null
pnmtotiff -packbits "$work/rgb.ppm" > "$work/packbits.tif" 2>/dev/null
pnmtotiff -flate "$work/rgb.ppm" > "$work/deflate.tif" 2>/dev/null
pnmtotiff -lzw -predictor=2 "$work/rgb.ppm" > "$work/lzw_predictor.tif" 2>/dev/null
tiffcp -t -w 256 -l 256 -c zip "$work/none.tif" "$work/tiled-deflate.tif"
rm "$work/rgb.ppm"


status=0
for kind in none packbits deflate lzw_predictor tiled-deflate; do
    file="$work/$kind.tif"
    ours=
    theirs=
    i=0
    while [ $i -lt "$runs" ]; do
        t=$(cpu_ms "$decode" "$file" -o "$work/out.pam")
        if [ -z "$ours" ] || [ "$t" -lt "$ours" ]; then ours=$t; fi
        t=$(cpu_ms sh -c 'tifftopnm "$1" > "$2" 2>/dev/null' sh "$file" "$work/ref.ppm")
        if [ -z "$theirs" ] || [ "$t" -lt "$theirs" ]; then theirs=$t; fi
        i=$((i + 1))
    done
    n=$((width * height * 3))
    tail -c $n "$work/out.pam" > "$work/a"
    tail -c $n "$work/ref.ppm" > "$work/b"
    if ! cmp -s "$work/a" "$work/b"; then
        echo "$kind: pixels differ from tifftopnm" >&2
        status=1
    fi
    ratio=$(awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "%.2f", a / b }')
    echo "$kind ${width}x${height}: velkaro-decode ${ours} ms, tifftopnm ${theirs} ms, ratio ${ratio}"
    if awk -v r="$ratio" 'BEGIN { exit !(r > 1.0) }'; then status=1; fi
done
exit $status

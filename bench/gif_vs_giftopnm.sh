#!/bin/sh
# Times velkaro-decode on large GIF files (256 colours, interlaced, transparent) against
# giftopnm writing the picture as a portable map. The pictures are made from generated pixels
# with ImageMagick. Runs are paired (ours, then theirs, RUNS times); each figure is the best
# processor time (user + system) of its side. The pixels are compared too. Target: at most
# 1.1x giftopnm.
#
#   bench/gif_vs_giftopnm.sh [VELKARO_DECODE] [WIDTH HEIGHT]
#
# Needs python3, ImageMagick's convert and giftopnm (Debian: netpbm).
set -eu
. "$(dirname "$0")/common.sh"
bench_init 4000 3000 "$@"

# Photo-like pixels: every row a shifted slice of a long pseudo-random walk.
make_photo
convert "$work/rgb.ppm" -colors 256 +dither "$work/plain.gif"
convert "$work/rgb.ppm" -colors 256 +dither -interlace GIF "$work/interlaced.gif"
convert "$work/plain.gif" -transparent "$(convert "$work/plain.gif" -format '%[pixel:p{0,0}]' info:)" \
    "$work/transparent.gif"
rm "$work"/*.ppm


status=0
for kind in plain interlaced transparent; do
    file="$work/$kind.gif"
    ours= theirs=
    i=0
    while [ $i -lt "$runs" ]; do
        a=$(cpu_ms "$decode" "$file" -o "$work/out.pam")
        b=$(cpu_ms sh -c 'giftopnm "$1" > "$2"' sh "$file" "$work/ref.ppm")
        if [ -z "$ours" ] || [ "$a" -lt "$ours" ]; then ours=$a; fi
        if [ -z "$theirs" ] || [ "$b" -lt "$theirs" ]; then theirs=$b; fi
        i=$((i + 1))
    done
    # Compare the colours (our PAM may carry alpha for the transparent picture).
    convert "$work/out.pam" -alpha off ppm:"$work/a.ppm"
    if ! cmp -s "$work/a.ppm" "$work/ref.ppm"; then
        echo "$kind: pixels differ from giftopnm" >&2
        status=1
    fi
    ratio=$(awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "%.2f", a / b }')
    echo "$kind ${width}x${height}: velkaro-decode ${ours} ms, giftopnm ${theirs} ms, ratio ${ratio}"
    if awk -v r="$ratio" 'BEGIN { exit !(r > 1.1) }'; then status=1; fi
done
exit $status

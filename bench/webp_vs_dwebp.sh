#!/bin/sh
# Times velkaro-decode on large WebP files (lossy, lossy with alpha, lossless) against dwebp
# writing a PAM. The pictures are made from generated pixels and encoded with cwebp. Runs are
# paired (ours, then theirs, RUNS times); each figure is the best processor time (user +
# system) of its side. The pixels are compared too. Target: at most 1.1x dwebp.
#
#   bench/webp_vs_dwebp.sh [VELKARO_DECODE] [WIDTH HEIGHT]
#
# Needs python3, ImageMagick's convert, cwebp and dwebp (Debian: webp).
set -eu
. "$(dirname "$0")/common.sh"
bench_init 4000 3000 "$@"

# Photo-like pixels: every row a shifted slice of a long pseudo-random walk; an alpha ramp.
make_photo --out rgba
cwebp -quiet -q 80 -noalpha "$work/rgba.pam" -o "$work/lossy.webp"
cwebp -quiet -q 80 "$work/rgba.pam" -o "$work/alpha.webp"
cwebp -quiet -lossless -m 1 -noalpha "$work/rgba.pam" -o "$work/lossless.webp"
rm "$work"/*.pam


status=0
for kind in lossy alpha lossless; do
    file="$work/$kind.webp"
    ours= theirs=
    i=0
    while [ $i -lt "$runs" ]; do
        a=$(cpu_ms "$decode" "$file" -o "$work/out.pam")
        b=$(cpu_ms dwebp -quiet -pam "$file" -o "$work/ref.pam")
        if [ -z "$ours" ] || [ "$a" -lt "$ours" ]; then ours=$a; fi
        if [ -z "$theirs" ] || [ "$b" -lt "$theirs" ]; then theirs=$b; fi
        i=$((i + 1))
    done
    # dwebp always writes RGBA; our PAM has no alpha channel for pictures without one.
    convert "$work/out.pam" -alpha on rgba:"$work/a.rgba"
    convert "$work/ref.pam" -alpha on rgba:"$work/b.rgba"
    if ! cmp -s "$work/a.rgba" "$work/b.rgba"; then
        echo "$kind: pixels differ from dwebp" >&2
        status=1
    fi
    ratio=$(awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "%.2f", a / b }')
    echo "$kind ${width}x${height}: velkaro-decode ${ours} ms, dwebp ${theirs} ms, ratio ${ratio}"
    if awk -v r="$ratio" 'BEGIN { exit !(r > 1.1) }'; then status=1; fi
done
exit $status

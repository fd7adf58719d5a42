#!/bin/sh
# Times velkaro-decode on large Targa (run-length, 24-bit), PCX (24-bit, three planes,
# run-length) and SGI (run-length RGB) files against the fastest Debian reader of each that
# writes the same PNM/PAM: netpbm's tgatoppm, pcxtoppm and sgitopnm, and ImageMagick's
# convert. The pictures are made from generated pixels; each figure is the best of several
# runs (processor time), and the two programs are timed in turns in one run. The decoded
# pixels are compared with the peer's. Target: at most 0.8 x the fastest peer's time.
#
#   bench/tga_pcx_sgi_vs_netpbm.sh [VELKARO_DECODE] [WIDTH HEIGHT]
#
# Needs python3, ImageMagick's convert and netpbm.
set -eu
. "$(dirname "$0")/common.sh"
bench_init 4000 3000 "$@"

# Photo-like pixels (every row a shifted slice of a long pseudo-random walk, tinted by its
# height) with flat stretches, as run-length coders meet them in drawings and scans.
make_photo --tint --stripes

convert "$work/rgb.ppm" -compress RLE "$work/big.tga"
convert "$work/rgb.ppm" "$work/big.pcx"
pnmtosgi -rle "$work/rgb.ppm" > "$work/big.sgi"
rm "$work/rgb.ppm"

# seconds CMD...: processor time (user + system) of one run in milliseconds.
seconds() {
    if [ -x /usr/bin/time ]; then
        /usr/bin/time -f "%U %S" -o "$work/time" "$@" >/dev/null
        awk '{ printf "%d", ($1 + $2) * 1000 }' "$work/time"
    else
        t0=$(date +%s%N)
        "$@" >/dev/null
        echo $((($(date +%s%N) - t0) / 1000000))
    fi
}

status=0
for kind in tga pcx sgi; do
    file="$work/big.$kind"
    case $kind in
        tga) netpbm=tgatoppm ;;
        pcx) netpbm=pcxtoppm ;;
        sgi) netpbm=sgitopnm ;;
    esac
    # Paired runs: ours, netpbm's, ImageMagick's in turn, the best of each kept.
    ours= theirs= magick=
    i=0
    while [ $i -lt "$runs" ]; do
        t=$(seconds "$decode" "$file" -o "$work/out.pam")
        if [ -z "$ours" ] || [ "$t" -lt "$ours" ]; then ours=$t; fi
        t=$(seconds sh -c '"$1" "$2" > "$3"' sh "$netpbm" "$file" "$work/ref.ppm")
        if [ -z "$theirs" ] || [ "$t" -lt "$theirs" ]; then theirs=$t; fi
        t=$(seconds convert "$file" -depth 8 "PAM:$work/im.pam")
        if [ -z "$magick" ] || [ "$t" -lt "$magick" ]; then magick=$t; fi
        i=$((i + 1))
    done
    n=$((width * height * 3))
    tail -c $n "$work/out.pam" > "$work/a"
    tail -c $n "$work/ref.ppm" > "$work/b"
    if ! cmp -s "$work/a" "$work/b"; then
        echo "$kind: pixels differ from $netpbm" >&2
        status=1
    fi
    peer=$netpbm best=$theirs
    if [ "$magick" -lt "$theirs" ]; then peer=convert best=$magick; fi
    ratio=$(awk -v a="$ours" -v b="$best" 'BEGIN { printf "%.2f", a / b }')
    echo "$kind ${width}x${height} ($(wc -c < "$file") bytes): velkaro-decode ${ours} ms," \
        "$netpbm ${theirs} ms, convert ${magick} ms; ratio to $peer ${ratio}"
    if awk -v r="$ratio" 'BEGIN { exit !(r > 0.8) }'; then status=1; fi
done
exit $status

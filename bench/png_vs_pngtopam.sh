#!/bin/sh
# Times velkaro-decode on large PNG files (8-bit RGB, RGBA, palette, 16-bit RGB, interlaced RGB)
# against netpbm's pngtopam writing the same PAM. The pictures are made from generated pixels
# with ImageMagick; each figure is the best of several runs (processor time). Where both write
# 8-bit samples the pixels are compared too. Target: 1.0x for non-interlaced 8-bit files.
#
#   bench/png_vs_pngtopam.sh [VELKARO_DECODE] [WIDTH HEIGHT]
#
# Needs python3, ImageMagick's convert and pngtopam (Debian: netpbm).
set -eu
. "$(dirname "$0")/common.sh"
bench_init 6000 4000 "$@"

# Photo-like pixels: every row a shifted slice of a long pseudo-random walk, tinted by its
# height; an alpha ramp for the RGBA picture, and 16-bit samples with a varying low byte.
make_photo --tint --out rgb,rgba,rgb16

# No gAMA, cHRM or other extras: pngtopam applies no gamma, and neither should we here.
plain="-define png:exclude-chunk=all"
convert "$work/rgb.ppm" $plain "PNG24:$work/rgb8.png"
convert "$work/rgba.pam" $plain "PNG32:$work/rgba8.png"
convert "$work/rgb.ppm" $plain -colors 256 +dither "PNG8:$work/palette.png"
convert "$work/rgb16.ppm" $plain -depth 16 "PNG48:$work/rgb16.png"
convert "$work/rgb.ppm" $plain -interlace PNG "PNG24:$work/interlaced.png"
rm "$work"/*.ppm "$work"/*.pam

status=0
for kind in rgb8 rgba8 palette rgb16 interlaced; do
    file="$work/$kind.png"
    ours=$(best_ms "$decode" "$file" -o "$work/out.pam")
    # -alphapam gives the RGBA picture's alpha (it would add one to the others).
    option=
    [ "$kind" = rgba8 ] && option=-alphapam
    theirs=$(best_ms sh -c 'pngtopam $1 "$2" > "$3"' sh "$option" "$file" "$work/ref.pam")
    # 16-bit: pngtopam keeps 16 bits, we reduce to 8; the pixels are not compared.
    if [ "$kind" != rgb16 ]; then
        channels=3
        [ "$kind" = rgba8 ] && channels=4
        n=$((width * height * channels))
        tail -c $n "$work/out.pam" > "$work/a"
        tail -c $n "$work/ref.pam" > "$work/b"
        if ! cmp -s "$work/a" "$work/b"; then
            echo "$kind: pixels differ from pngtopam" >&2
            status=1
        fi
    fi
    ratio=$(awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "%.2f", a / b }')
    echo "$kind ${width}x${height}: velkaro-decode ${ours} ms, pngtopam ${theirs} ms, ratio ${ratio}"
    case $kind in
        rgb8 | rgba8 | palette)
            if awk -v r="$ratio" 'BEGIN { exit !(r > 1.0) }'; then status=1; fi ;;
    esac
done
exit $status

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
python3 - "$work" "$width" "$height" <<'PY'
import random, sys
folder, w, h = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rnd = random.Random(1234)
n = 2 * w + 64
base = bytearray()
v = [128.0, 128.0, 128.0]
for i in range(n):
    for c in range(3):
        v[c] = min(255.0, max(0.0, v[c] + rnd.uniform(-9, 9)))
        base.append(int(v[c]))
alpha = bytes((x * 255) // max(1, w - 1) for x in range(w))
low = bytes((i * 73) & 0xFF for i in range(3 * w))
with open(folder + "/rgb.ppm", "wb") as rgb, open(folder + "/rgba.pam", "wb") as rgba, \
        open(folder + "/rgb16.ppm", "wb") as rgb16:
    rgb.write(b"P6\n%d %d\n255\n" % (w, h))
    rgba.write(b"P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n" % (w, h))
    rgb16.write(b"P6\n%d %d\n65535\n" % (w, h))
    for y in range(h):
        off = 3 * ((y * 37) % (n - w))
        shift = (y * 96) // h
        row = bytes(base[off:off + 3 * w]).translate(bytes(min(255, b + shift) for b in range(256)))
        rgb.write(row)
        quad = bytearray(4 * w)
        for c in range(3):
            quad[c::4] = row[c::3]
        quad[3::4] = alpha
        rgba.write(quad)
        wide = bytearray(6 * w)
        wide[0::2] = row
        wide[1::2] = low
        rgb16.write(wide)
PY

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

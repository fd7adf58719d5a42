#!/bin/sh
# Times velkaro-decode on large baseline, progressive and CMYK JPEG files against djpeg -ppm of
# the same libjpeg. Both write their output (PAM / PPM) to the same temporary folder; each figure
# is the best of several runs. Target: velkaro-decode takes at most 1.1 times djpeg's time.
#
#   bench/jpeg_vs_djpeg.sh [VELKARO_DECODE] [WIDTH HEIGHT]
#   KINDS="baseline progressive" bench/jpeg_vs_djpeg.sh ...   (only those rows)
#
# The CMYK file is the same picture written by Pillow (Adobe's inverted samples with the APP14
# marker). djpeg turns CMYK into RGB itself, rounding where the colour manager truncates, so its
# pixels may differ by one level there.
#
# Needs python3 with Pillow (Debian: python3-pil), cjpeg and djpeg (libjpeg-turbo-progs).
set -eu
. "$(dirname "$0")/common.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
decode=${1:-$root/build/tools/velkaro-decode}
width=${2:-6000}
height=${3:-4000}
runs=${RUNS:-7}
[ -x "$decode" ] || { echo "velkaro-decode not found: $decode" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A photo-like picture: smooth bands with fine texture, every row a shifted slice of a long
# pseudo-random base row tinted by its height, so no two blocks are alike.
python3 - "$work/large.ppm" "$width" "$height" <<'PY'
import random, sys
path, w, h = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rnd = random.Random(1234)
n = 2 * w + 64
base = bytearray()
v = [128.0, 128.0, 128.0]
for i in range(n):
    for c in range(3):
        v[c] = min(255.0, max(0.0, v[c] + rnd.uniform(-9, 9)))
        base.append(int(v[c]))
with open(path, "wb") as f:
    f.write(b"P6\n%d %d\n255\n" % (w, h))
    for y in range(h):
        off = 3 * ((y * 37) % (n - w))
        row = bytes(base[off:off + 3 * w])
        shift = (y * 96) // h
        table = bytes(min(255, b + shift) for b in range(256))
        f.write(row.translate(table))
PY

cjpeg -quality 90 -outfile "$work/baseline.jpg" "$work/large.ppm"
cjpeg -quality 90 -progressive -outfile "$work/progressive.jpg" "$work/large.ppm"
/usr/bin/python3 -c '
import sys
from PIL import Image
Image.open(sys.argv[1]).convert("CMYK").save(sys.argv[2], quality=90)' \
    "$work/large.ppm" "$work/cmyk.jpg"
rm "$work/large.ppm"

status=0
for kind in ${KINDS:-baseline progressive cmyk}; do
    file="$work/$kind.jpg"
    ours=$(best_ms "$decode" "$file" -o "$work/out.pam")
    theirs=$(best_ms djpeg -ppm -outfile "$work/out.ppm" "$file")
    # Both outputs must hold the same pixels (PAM and PPM differ only in their headers).
    n=$((width * height * 3))
    tail -c $n "$work/out.pam" > "$work/a"
    tail -c $n "$work/out.ppm" > "$work/b"
    tolerance=0
    [ "$kind" = cmyk ] && tolerance=1
    if ! python3 -c '
import operator, sys
a = open(sys.argv[1], "rb").read()
b = open(sys.argv[2], "rb").read()
sys.exit(len(a) != len(b) or (a != b and max(map(abs, map(operator.sub, a, b))) > int(sys.argv[3])))
' "$work/a" "$work/b" "$tolerance"; then
        echo "$kind: pixels differ from djpeg" >&2
        status=1
    fi
    ratio=$(awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "%.2f", a / b }')
    echo "$kind ${width}x${height}: velkaro-decode ${ours} ms, djpeg ${theirs} ms, ratio ${ratio}"
    if awk -v r="$ratio" 'BEGIN { exit !(r > 1.10) }'; then status=1; fi
done
exit $status

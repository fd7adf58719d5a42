#!/bin/sh
# Times velkaro-decode on large generated Windows bitmaps (24-bit, 8-bit palette, RLE8, 16-bit
# 5-6-5) against ImageMagick's convert writing the same PAM. Each figure is the best of several
# runs; the outputs are compared so both did the same work. Target: velkaro-decode takes at most
# half of convert's time.
#
#   bench/decode_bmp.sh [VELKARO_DECODE] [WIDTH HEIGHT]
#
# Needs python3 and ImageMagick's convert.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
decode=${1:-$root/build/tools/velkaro-decode}
width=${2:-6000}
height=${3:-4000}
runs=${RUNS:-5}
[ -x "$decode" ] || { echo "velkaro-decode not found: $decode" >&2; exit 2; }
command -v convert >/dev/null || { echo "ImageMagick convert not found" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Our own pixels: smooth bands with noise, written as BMP by hand.
python3 - "$work" "$width" "$height" <<'PY'
import random, struct, sys
work, w, h = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rnd = random.Random(4321)

def stride(bits):
    return (w * bits + 31) // 32 * 4

def write(name, bits, compression, palette, data, masks=b""):
    head = struct.pack("<IiiHHIIiiII", 40, w, h, 1, bits, compression, len(data), 2835, 2835,
                       len(palette) // 4, 0) + masks
    off = 14 + len(head) + len(palette)
    with open(f"{work}/{name}", "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", off + len(data), 0, 0, off) + head + palette)
        f.write(data)

base = bytes(rnd.randrange(256) for _ in range(3 * (w + 4096)))
rows24 = bytearray()
for y in range(h):
    off = 3 * ((y * 41) % 4096)
    row = base[off:off + 3 * w]
    rows24 += row + bytes(stride(24) - len(row))
write("rgb24.bmp", 24, 0, b"", bytes(rows24))

rows8 = bytearray()
for y in range(h):
    off = (y * 13) % 4096
    row = base[off:off + w]
    rows8 += row + bytes(stride(8) - len(row))
palette = b"".join(bytes([i, 255 - i, (i * 7) & 255, 0]) for i in range(256))
write("pal8.bmp", 8, 0, palette, bytes(rows8))

rle = bytearray()
for y in range(h):
    x = 0
    while x < w:
        n = min(w - x, 1 + base[(x + y) % 4096] % 40)
        rle += bytes([n, base[(x * 3 + y) % 4096]])
        x += n
    rle += b"\0\0"
rle += b"\0\1"
write("rle8.bmp", 8, 1, palette, bytes(rle))

rows16 = bytearray()
for y in range(h):
    off = 2 * ((y * 29) % 4096)
    row = base[off:off + 2 * w]
    rows16 += row + bytes(stride(16) - len(row))
write("rgb565.bmp", 16, 3, b"", bytes(rows16), struct.pack("<III", 0xF800, 0x7E0, 0x1F))
PY

best() {  # best wall time in milliseconds of running "$@" $runs times
    b=""
    i=0
    while [ $i -lt "$runs" ]; do
        s=$(date +%s%N)
        "$@" >/dev/null 2>&1
        e=$(date +%s%N)
        t=$(( (e - s) / 1000000 ))
        if [ -z "$b" ] || [ "$t" -lt "$b" ]; then b=$t; fi
        i=$((i + 1))
    done
    echo "$b"
}

status=0
printf '%-12s %10s %10s %7s\n' file velkaro convert ratio
for f in rgb24 pal8 rle8 rgb565; do
    in="$work/$f.bmp"
    "$decode" "$in" -o "$work/$f.v.pam"
    convert "$in" -depth 8 "$work/$f.c.pam"
    # Same pixels (headers may differ in spacing).
    if ! cmp -s "$work/$f.v.pam" "$work/$f.c.pam"; then
        tail -c $((width * height * 3)) "$work/$f.v.pam" >"$work/a"
        tail -c $((width * height * 3)) "$work/$f.c.pam" >"$work/b"
        cmp -s "$work/a" "$work/b" || { echo "$f: pixels differ from convert" >&2; status=1; }
    fi
    v=$(best "$decode" "$in" -o "$work/$f.v.pam")
    c=$(best convert "$in" -depth 8 "$work/$f.c.pam")
    ratio=$(awk "BEGIN { printf \"%.2f\", $v / ($c > 0 ? $c : 1) }")
    printf '%-12s %8sms %8sms %7s\n' "$f" "$v" "$c" "$ratio"
    awk "BEGIN { exit !($v > 0.5 * $c) }" && { echo "$f: slower than half of convert" >&2; status=1; }
done
exit $status

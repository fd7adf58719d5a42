#!/usr/bin/env bash
# Makes the decoder fixtures from images drawn here, with independent encoders:
#   fax_rows.pbm          the bilevel test image (2600 x 16, runs from 0 to 2600 pixels)
#   fax_g3.bin            its strip from ImageMagick's "Fax" TIFF compression (T.4 1-D,
#                         byte-aligned EOLs, most significant bit first)
#   fax_g3_reversed.bin   netpbm pbmtog3 output (T.4 1-D with EOLs and RTC), bits reversed
#   fax_mh.bin            libtiff's CCITT RLE (TIFF compression 2, Modified Huffman)
#   fax_mhw.bin           libtiff's CCITT RLEW (TIFF compression 32771, word-aligned rows)
#   tiffjpeg.ppm          a 40 x 40 colour image
#   tiffjpeg_tables.bin, tiffjpeg_strip{0,1,2}.bin
#                         its JPEGTables and strips from libtiff's JPEG compression (YCbCr
#                         2x2, 16 rows per strip)
#   tiffjpeg_libtiff.ppm  libtiff's decoding of that TIFF
# Needs python3, ImageMagick (convert), netpbm (pbmtog3) and libtiff-tools (tiffcp, libtiff6).
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - <<'PY'
import random
random.seed(7)
W = 2600
def from_runs(runs):
    bits, colour = [], 0
    for r in runs:
        bits += [colour] * r
        colour ^= 1
    return (bits + [0] * W)[:W]
rows = [[0] * W, [1] * W, [i & 1 for i in range(W)], from_runs([2560, 40]),
        from_runs([0, 2560, 40]), from_runs([64 * k for k in range(1, 8)] + [1, 2, 3, 4, 5, 6, 7])]
for _ in range(10):
    runs, total = [], 0
    while total < W:
        r = random.choice([random.randint(0, 63), random.randint(64, 1800), random.randint(1, 8)])
        runs.append(r)
        total += r
    rows.append(from_runs(runs))
out = bytearray(b"P4\n%d %d\n" % (W, len(rows)))
for r in rows:
    for i in range(0, W, 8):
        out.append(sum(0x80 >> j for j in range(8) if i + j < W and r[i + j]))
open("fax_rows.pbm", "wb").write(out)

# A colour image with smooth areas and edges, 40 x 40.
ppm = bytearray(b"P6\n40 40\n255\n")
for y in range(40):
    for x in range(40):
        edge = 255 if (x // 10 + y // 10) % 2 else 0
        ppm += bytes([(x * 6) & 255, (y * 6) & 255, edge])
open("tiffjpeg.ppm", "wb").write(ppm)
PY

# Strips of a TIFF file, concatenated (or one file per strip with a prefix).
cat >"$work/strips.py" <<'PY'
import struct, sys
d = open(sys.argv[1], "rb").read()
e = "<" if d[:2] == b"II" else ">"
off = struct.unpack(e + "I", d[4:8])[0]
n = struct.unpack(e + "H", d[off:off + 2])[0]
size = {1: 1, 2: 1, 3: 2, 4: 4, 7: 1}
tags = {}
for i in range(n):
    t, ty, cnt, val = struct.unpack(e + "HHI4s", d[off + 2 + 12 * i:off + 14 + 12 * i])
    s = size.get(ty, 8) * cnt
    raw = val if s <= 4 else d[struct.unpack(e + "I", val)[0]:][:s]
    if ty == 3: tags[t] = list(struct.unpack(e + "%dH" % cnt, raw[:2 * cnt]))
    elif ty == 4: tags[t] = list(struct.unpack(e + "%dI" % cnt, raw[:4 * cnt]))
    else: tags[t] = raw[:s]
strips = [d[o:o + c] for o, c in zip(tags[273], tags[279])]
if len(sys.argv) == 3:
    open(sys.argv[2], "wb").write(b"".join(strips))
else:
    for i, s in enumerate(strips):
        open("%s%d.bin" % (sys.argv[3], i), "wb").write(s)
    open(sys.argv[2], "wb").write(tags[347])
PY

# Writes the PBM as a one-strip TIFF with CCITT compression $3 through libtiff itself.
cat >"$work/ccitt.py" <<'PY'
import ctypes, sys
lib = ctypes.CDLL("libtiff.so.6")
lib.TIFFOpen.restype = ctypes.c_void_p
lib.TIFFOpen.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
lib.TIFFSetField.argtypes = [ctypes.c_void_p, ctypes.c_uint32]
lib.TIFFWriteScanline.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_uint32,
                                  ctypes.c_uint16]
lib.TIFFClose.argtypes = [ctypes.c_void_p]
data = open(sys.argv[1], "rb").read().split(b"\n", 2)
w, h = map(int, data[1].split())
stride = (w + 7) // 8
t = lib.TIFFOpen(sys.argv[2].encode(), b"w")
for tag, value in ((256, w), (257, h), (258, 1), (277, 1), (259, int(sys.argv[3])), (262, 0),
                   (278, h), (284, 1)):
    assert lib.TIFFSetField(t, tag, ctypes.c_uint32(value)) == 1
for y in range(h):
    row = ctypes.create_string_buffer(data[2][y * stride:(y + 1) * stride], stride)
    assert lib.TIFFWriteScanline(t, row, y, 0) == 1
lib.TIFFClose(t)
PY

convert fax_rows.pbm -compress Fax "$work/g3.tif"
python3 "$work/strips.py" "$work/g3.tif" fax_g3.bin
pbmtog3 -nofixedwidth -reversebits fax_rows.pbm >fax_g3_reversed.bin
python3 "$work/ccitt.py" fax_rows.pbm "$work/mh.tif" 2
python3 "$work/strips.py" "$work/mh.tif" fax_mh.bin
python3 "$work/ccitt.py" fax_rows.pbm "$work/mhw.tif" 32771
python3 "$work/strips.py" "$work/mhw.tif" fax_mhw.bin

convert tiffjpeg.ppm -compress none "$work/plain.tif"
tiffcp -c jpeg:90 -r 16 "$work/plain.tif" "$work/jpeg.tif"
python3 "$work/strips.py" "$work/jpeg.tif" tiffjpeg_tables.bin tiffjpeg_strip
# libtiff's own decoding of those strips, the reference for the decoded rows.
tiffcp -c none "$work/jpeg.tif" "$work/decoded.tif"
convert "$work/decoded.tif" tiffjpeg_libtiff.ppm

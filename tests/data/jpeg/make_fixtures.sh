#!/bin/sh
# Makes the JPEG test fixtures and the JPEG fuzzing seeds from synthetic pixels of our own.
# Needs python3 and the libjpeg-turbo command-line tools (Debian: libjpeg-turbo-progs). The
# expected pictures are what djpeg of the same libjpeg makes of each file; the tests compare the
# decoder's pixels with them and need neither tool at run time.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
seeds="$here/../../../fuzz/seeds/fuzz_jpeg"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# 67 x 45 (odd sizes exercise the scaled sizes and row padding): smooth gradients, a hard-edged
# checker block and a diagonal stripe, so that quantization and the IDCT both show up.
python3 - <<'PY'
w, h = 67, 45
rgb = bytearray()
gray = bytearray()
for y in range(h):
    for x in range(w):
        r = (x * 255) // (w - 1)
        g = (y * 255) // (h - 1)
        b = ((x + y) * 4) % 256
        if 20 <= x < 40 and 10 <= y < 30 and ((x // 4) + (y // 4)) % 2 == 0:
            r, g, b = 250, 250, 20
        if abs(x - 2 * y) < 3:
            r, g, b = 10, 30, 200
        rgb += bytes((r, g, b))
        gray.append((r * 299 + g * 587 + b * 114) // 1000)
open("source.ppm", "wb").write(b"P6\n%d %d\n255\n" % (w, h) + rgb)
open("source.pgm", "wb").write(b"P5\n%d %d\n255\n" % (w, h) + gray)
PY

cjpeg -quality 85 -outfile colour.jpg source.ppm
cjpeg -quality 85 -progressive -outfile progressive.jpg source.ppm
cjpeg -quality 85 -outfile gray.jpg source.pgm

djpeg -ppm -outfile colour.ppm colour.jpg
djpeg -ppm -outfile progressive.ppm progressive.jpg
# Gray files decode to 236 grey levels (8-bit output with a palette).
djpeg -colors 236 -pnm -outfile gray.pgm gray.jpg
djpeg -ppm -scale 1/2 -outfile colour_half.ppm colour.jpg
djpeg -ppm -dct fast -outfile colour_fast.ppm colour.jpg
djpeg -grayscale -colors 236 -pnm -outfile colour_gray.pgm colour.jpg
# Eight-bit output: 236 colours, two-pass quantization with Floyd-Steinberg dithering, or (fast
# decoding) one pass with ordered dithering.
djpeg -colors 236 -ppm -outfile colour_236.ppm colour.jpg
djpeg -colors 236 -dct fast -onepass -dither ordered -ppm -outfile colour_236_fast.ppm colour.jpg
djpeg -colors 236 -ppm -outfile progressive_236.ppm progressive.jpg

# What the encoder must write for the decoded colour picture at quality 90: cjpeg of the same
# pixels with the library's defaults (baseline, progressive, grayscale).
cjpeg -quality 90 -outfile encoded.jpg colour.ppm
cjpeg -quality 90 -progressive -outfile encoded_progressive.jpg colour.ppm
cjpeg -quality 90 -grayscale -outfile encoded_gray.jpg colour.ppm

# The first 1,200 bytes of the colour file: the lower part of the picture is missing.
head -c 1200 colour.jpg > truncated.jpg
djpeg -ppm -outfile truncated.ppm truncated.jpg || true  # exit status 2: warning given

cp colour.jpg progressive.jpg gray.jpg truncated.jpg \
   colour.ppm progressive.ppm gray.pgm colour_half.ppm colour_fast.ppm colour_gray.pgm \
   colour_236.ppm colour_236_fast.ppm progressive_236.ppm \
   truncated.ppm encoded.jpg encoded_progressive.jpg encoded_gray.jpg "$here/"

# Seeds: the fixtures plus other codings libjpeg reads (restart markers, 4:4:4 and 4:2:2
# sampling, arithmetic coding, an optimized progressive file). The CMYK, YCCK and EXIF seeds
# come from fuzz/make_jpeg_seeds.py.
mkdir -p "$seeds"
cp colour.jpg progressive.jpg gray.jpg truncated.jpg "$seeds/"
cjpeg -quality 60 -restart 1 -outfile "$seeds/restart.jpg" source.ppm
cjpeg -quality 95 -sample 1x1 -outfile "$seeds/sample444.jpg" source.ppm
cjpeg -quality 75 -sample 2x1 -optimize -outfile "$seeds/sample422.jpg" source.ppm
cjpeg -quality 75 -arithmetic -outfile "$seeds/arithmetic.jpg" source.ppm
cjpeg -quality 50 -progressive -optimize -outfile "$seeds/progressive_gray.jpg" source.pgm

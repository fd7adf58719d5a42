#!/usr/bin/env python3
"""Writes the benchmarks' photo-like test picture: every row a shifted slice of a long
pseudo-random walk through RGB colours, so that rows differ and compressors find the structure
of a photograph.

  bench/make_photo.py FOLDER WIDTH HEIGHT [options]

  --seed N         seed of the walk (1234)
  --flat SPAN,PERIOD
                   the walk stands still for SPAN steps out of every SPAN x PERIOD (runs for
                   run-length coders)
  --tint           rows brighten from top to bottom (by up to 96)
  --stripes        every other band of 64 rows starts with a quarter row of one colour
  --comment        a comment line in the PPM header
  --out LIST       what to write, comma-separated: rgb (FOLDER/rgb.ppm, the default), rgba
                   (FOLDER/rgba.pam, alpha rising from left to right), rgb16 (FOLDER/rgb16.ppm,
                   16-bit samples whose low bytes vary)
"""
import argparse
import random


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("folder")
    ap.add_argument("width", type=int)
    ap.add_argument("height", type=int)
    ap.add_argument("--seed", type=int, default=1234)
    ap.add_argument("--flat", default="")
    ap.add_argument("--tint", action="store_true")
    ap.add_argument("--stripes", action="store_true")
    ap.add_argument("--comment", action="store_true")
    ap.add_argument("--out", default="rgb")
    a = ap.parse_args()
    w, h = a.width, a.height
    outs = set(a.out.split(","))
    span, period = (int(x) for x in a.flat.split(",")) if a.flat else (0, 0)

    rnd = random.Random(a.seed)
    n = 2 * w + 64
    base = bytearray()
    v = [128.0, 128.0, 128.0]
    for i in range(n):
        flat = span and (i // span) % period == 0
        for c in range(3):
            if not flat:
                v[c] = min(255.0, max(0.0, v[c] + rnd.uniform(-9, 9)))
            base.append(int(v[c]))
    tints = [bytes(min(255, b + s) for b in range(256)) for s in range(97)]
    alpha = bytes((x * 255) // max(1, w - 1) for x in range(w))
    low = bytes((i * 73) & 0xFF for i in range(3 * w))
    block = bytes([200, 180, 160]) * (w // 4)

    files = {}
    if "rgb" in outs:
        files["rgb"] = open(a.folder + "/rgb.ppm", "wb")
        comment = b"# benchmark picture\n" if a.comment else b""
        files["rgb"].write(b"P6\n" + comment + b"%d %d\n255\n" % (w, h))
    if "rgba" in outs:
        files["rgba"] = open(a.folder + "/rgba.pam", "wb")
        files["rgba"].write(
            b"P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n" % (w, h))
    if "rgb16" in outs:
        files["rgb16"] = open(a.folder + "/rgb16.ppm", "wb")
        files["rgb16"].write(b"P6\n%d %d\n65535\n" % (w, h))
    for y in range(h):
        off = 3 * ((y * 37) % (n - w))
        row = bytearray(base[off:off + 3 * w])
        if a.tint:
            row = bytearray(bytes(row).translate(tints[(y * 96) // h]))
        if a.stripes and (y // 64) % 2 == 0:
            row[0:len(block)] = block
        if "rgb" in files:
            files["rgb"].write(row)
        if "rgba" in files:
            quad = bytearray(4 * w)
            for c in range(3):
                quad[c::4] = row[c::3]
            quad[3::4] = alpha
            files["rgba"].write(quad)
        if "rgb16" in files:
            wide = bytearray(6 * w)
            wide[0::2] = row
            wide[1::2] = low
            files["rgb16"].write(wide)
    for f in files.values():
        f.close()


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes the PNG fuzzer's seed files: small PNGs built here from our own pixels with Python's
zlib, covering every colour type and bit depth, the five filters, Adam7, split image data and
the ancillary chunks the loader reads. Run from anywhere: fuzz/make_png_seeds.py."""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}
PASSES = [(0, 8, 0, 8), (0, 8, 4, 8), (4, 8, 0, 4), (0, 4, 2, 4), (2, 4, 0, 2), (0, 2, 1, 2),
          (1, 2, 0, 1)]


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(
        ">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def pixel_rows(w, h, depth, ctype):
    """Rows of pixel values (each a tuple of samples) from a simple pattern."""
    top = (1 << depth) - 1
    return [[tuple((x * 5 + y * 3 + c * 7) * (top // 15 or 1) % (top + 1)
                   for c in range(CHANNELS[ctype])) for x in range(w)] for y in range(h)]


def pack(row, depth):
    if depth >= 8:
        n = depth // 8
        return b"".join(v.to_bytes(n, "big") for p in row for v in p)
    bits = "".join(format(v, "0%db" % depth) for p in row for v in p)
    bits += "0" * (-len(bits) % 8)
    return bytes(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8))


def filtered(rows, bpp, first_filter):
    out, prev = b"", None
    for i, r in enumerate(rows):
        f = (first_filter + i) % 5
        prior = prev or bytes(len(r))
        line = bytearray([f])
        for k, v in enumerate(r):
            a = r[k - bpp] if k >= bpp else 0
            b = prior[k]
            c = prior[k - bpp] if k >= bpp else 0
            pred = [0, a, b, (a + b) // 2, 0][f]
            if f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
            line.append((v - pred) & 0xFF)
        out += bytes(line)
        prev = r
    return out


def png(w, h, depth, ctype, interlace=0, extra=b"", split=0, first_filter=0):
    pix = pixel_rows(w, h, depth, ctype)
    bpp = max(1, depth * CHANNELS[ctype] // 8)
    if interlace:
        raw = b""
        for fy, sy, fx, sx in PASSES:
            if fx >= w or fy >= h:
                continue
            rows = [pack(pix[y][fx::sx], depth) for y in range(fy, h, sy)]
            raw += filtered(rows, bpp, first_filter)
    else:
        raw = filtered([pack(r, depth) for r in pix], bpp, first_filter)
    z = zlib.compress(raw, 9)
    step = split or len(z)
    idat = b"".join(chunk(b"IDAT", z[i:i + step]) for i in range(0, len(z), step))
    head = struct.pack(">IIBBBBB", w, h, depth, ctype, 0, 0, interlace)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", head) + extra + idat +
            chunk(b"IEND", b""))


def palette(n):
    return chunk(b"PLTE", bytes(v for i in range(n) for v in (i * 17 % 256, 255 - i, i * 5 % 256)))


def seeds():
    s = {}
    s["gray1.png"] = png(9, 5, 1, 0)
    s["gray2_interlaced.png"] = png(9, 9, 2, 0, interlace=1, first_filter=1)
    s["gray4_trns.png"] = png(7, 5, 4, 0, extra=chunk(b"tRNS", b"\0\5"))
    s["gray8_gamma.png"] = png(7, 5, 8, 0, extra=chunk(b"gAMA", struct.pack(">I", 45455)))
    s["gray16_bkgd.png"] = png(5, 4, 16, 0, extra=chunk(b"bKGD", b"\x80\0"), first_filter=2)
    s["rgb8_filters.png"] = png(8, 10, 8, 2, first_filter=0)
    s["rgb8_split.png"] = png(8, 6, 8, 2, split=7, first_filter=4)
    s["rgb16_trns.png"] = png(5, 5, 16, 2, extra=chunk(b"tRNS", b"\0\1\0\2\0\3"), first_filter=3)
    s["palette1.png"] = png(9, 3, 1, 3, extra=palette(2))
    s["palette2_interlaced.png"] = png(10, 10, 2, 3, interlace=1, extra=palette(4))
    s["palette4_trns.png"] = png(7, 5, 4, 3, extra=palette(16) + chunk(b"tRNS", b"\xff\0"))
    s["palette8_bkgd.png"] = png(6, 4, 8, 3, extra=palette(256) + chunk(b"bKGD", b"\3"))
    s["grayalpha8.png"] = png(6, 6, 8, 4, first_filter=1)
    s["grayalpha16_interlaced.png"] = png(5, 7, 16, 4, interlace=1)
    s["rgba8_interlaced.png"] = png(11, 9, 8, 6, interlace=1, first_filter=2)
    s["rgba16.png"] = png(4, 3, 16, 6, extra=chunk(b"tEXt", b"Comment\0ours"), first_filter=4)
    s["one_by_one_interlaced.png"] = png(1, 1, 8, 2, interlace=1)
    return s


def main():
    folder = os.path.join(HERE, "seeds", "fuzz_png")
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds().items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes the PCX fuzzer's seed files: small PCX files built here from our own pixels, one per
plane and depth layout, raw and run-length, with header, trailing and default palettes and
the screen-capture manufacturer byte. Run from anywhere: fuzz/make_pcx_seeds.py."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "seeds", "fuzz_pcx")


def pack(row):
    out, i = bytearray(), 0
    while i < len(row):
        n = 1
        while i + n < len(row) and n < 63 and row[i + n] == row[i]:
            n += 1
        if n > 1 or row[i] >= 192:
            out += bytes([192 + n, row[i]])
        else:
            out.append(row[i])
        i += n
    return bytes(out)


def pcx(bits, planes, w, h, rle=True, version=5, kind=1, trailer=b"", manufacturer=10):
    bpl = ((w * bits + 15) // 16) * 2
    head = struct.pack("<BBBBHHHHHH", manufacturer, version, 1 if rle else 0, bits, 0, 0,
                       w - 1, h - 1, 72, 72)
    head += bytes((i * 37) & 0xFF for i in range(48)) + bytes([0, planes])
    head += struct.pack("<HH", bpl, kind)
    head += bytes(128 - len(head))
    data = b""
    for y in range(h):
        row = bytes(((x // 2) * 13 + y * 7 + p * 50) & 0xFF if x % 5 else 0
                    for p in range(planes) for x in range(bpl))
        data += pack(row) if rle else row
    return head + data + trailer


def main():
    os.makedirs(OUT, exist_ok=True)
    palette = bytes([12]) + bytes((i * 3) & 0xFF for i in range(768))
    seeds = {
        "mono": pcx(1, 1, 17, 4, version=3),
        "cga": pcx(2, 1, 9, 3),
        "ega_planes": pcx(1, 4, 21, 4),
        "ega_planes_default": pcx(1, 4, 21, 4, version=3, rle=False),
        "nibbles": pcx(4, 1, 9, 3, kind=2),
        "vga": pcx(8, 1, 13, 5, trailer=palette),
        "vga_gray": pcx(8, 1, 13, 5, rle=False, kind=2, trailer=bytes(769)),
        "truecolor": pcx(8, 3, 11, 4),
        "truecolor_raw": pcx(8, 3, 11, 4, rle=False),
        "screen": pcx(8, 1, 6, 2, manufacturer=205, trailer=palette),
    }
    for name, data in seeds.items():
        with open(os.path.join(OUT, name + ".pcx"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()

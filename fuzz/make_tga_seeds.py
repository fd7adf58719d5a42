#!/usr/bin/env python3
"""Writes the Targa fuzzer's seed files: small Targa files built here from our own pixels,
one per image type and pixel size, with colour maps of each entry size, both row orders and
run-length packets that cross rows. Run from anywhere: fuzz/make_tga_seeds.py."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "seeds", "fuzz_tga")


def pack(pixels, p):
    """Run-length packets: runs of equal pixels, the rest in raw packets."""
    out, n, i = bytearray(), len(pixels) // p, 0
    px = [pixels[k * p:(k + 1) * p] for k in range(n)]
    while i < n:
        run = 1
        while i + run < n and run < 128 and px[i + run] == px[i]:
            run += 1
        if run > 1:
            out += bytes([127 + run]) + px[i]
            i += run
            continue
        raw = 1
        while i + raw < n and raw < 128 and not (i + raw + 1 < n and px[i + raw] == px[i + raw + 1]):
            raw += 1
        out += bytes([raw - 1]) + b"".join(px[i:i + raw])
        i += raw
    return bytes(out)


def tga(itype, bits, w, h, top=False, map_entry=0, map_len=0, ident=b""):
    p = (bits + 7) // 8
    cmap = b""
    if map_entry:
        eb = (map_entry + 7) // 8
        cmap = bytes((i * 7 + k * 40) & 0xFF for i in range(map_len) for k in range(eb))
    head = struct.pack("<BBBHHBHHHHBB", len(ident), 1 if map_entry else 0, itype, 0, map_len,
                       map_entry, 0, 0, w, h, bits, 0x20 if top else 0)
    pixels = bytes(((x // 3) * 11 + y * 5 + k * 60) & 0xFF if x % 7 else 0x42
                   for y in range(h) for x in range(w) for k in range(p))
    data = pack(pixels, p) if itype >= 9 else pixels
    return head + ident + cmap + data


def main():
    os.makedirs(OUT, exist_ok=True)
    seeds = {
        "indexed24": tga(1, 8, 9, 5, map_entry=24, map_len=16, ident=b"id"),
        "indexed15_rle": tga(9, 8, 9, 5, top=True, map_entry=15, map_len=7),
        "indexed32_rle": tga(9, 8, 12, 3, map_entry=32, map_len=256),
        "rgb15": tga(2, 15, 8, 4),
        "rgb16_rle": tga(10, 16, 8, 4, top=True),
        "rgb24": tga(2, 24, 7, 6),
        "rgb24_rle": tga(10, 24, 7, 6),
        "rgba_rle": tga(10, 32, 10, 4, top=True),
        "gray": tga(3, 8, 11, 3),
        "gray_rle": tga(11, 8, 11, 3, map_entry=24, map_len=3),
        "grayalpha_rle": tga(11, 16, 6, 5),
        "empty_type0": tga(0, 24, 3, 3),
    }
    for name, data in seeds.items():
        with open(os.path.join(OUT, name + ".tga"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()

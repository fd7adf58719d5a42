#!/usr/bin/env python3
"""Writes the QOI fuzzer's seed files: small pictures made here from our own pixels, encoded
with a plain QOI encoder (every chunk kind appears: runs, table hits, small and luma differences,
full RGB and RGBA values). Run from anywhere: fuzz/make_qoi_seeds.py."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def encode(w, h, channels, pixels):
    out = bytearray(b"qoif" + struct.pack(">IIBB", w, h, channels, 0))
    table = [(0, 0, 0, 0)] * 64
    prev, run = (0, 0, 0, 255), 0
    for i, px in enumerate(pixels):
        if px == prev:
            run += 1
            if run == 62 or i == len(pixels) - 1:
                out.append(0xC0 | (run - 1))
                run = 0
            continue
        if run:
            out.append(0xC0 | (run - 1))
            run = 0
        slot = (px[0] * 3 + px[1] * 5 + px[2] * 7 + px[3] * 11) % 64
        if table[slot] == px:
            out.append(slot)
        elif px[3] != prev[3]:
            out += bytes([0xFF, *px])
        else:
            dr, dg, db = ((px[k] - prev[k] + 128) % 256 - 128 for k in range(3))
            if -2 <= dr < 2 and -2 <= dg < 2 and -2 <= db < 2:
                out.append(0x40 | (dr + 2) << 4 | (dg + 2) << 2 | (db + 2))
            elif -32 <= dg < 32 and -8 <= dr - dg < 8 and -8 <= db - dg < 8:
                out += bytes([0x80 | (dg + 32), (dr - dg + 8) << 4 | (db - dg + 8)])
            else:
                out += bytes([0xFE, *px[:3]])
        table[slot] = px
        prev = px
    return bytes(out + b"\0" * 7 + b"\1")


def picture(w, h, alpha):
    return [((x * 9) & 255, (y * 13) & 255, (x // 4 * 40 + y) & 255,
             ((x * 255 // max(w - 1, 1)) if alpha else 255) if x < w - 5 else 255)
            for y in range(h) for x in range(w)]


def main():
    out = os.path.join(HERE, "seeds", "fuzz_qoi")
    os.makedirs(out, exist_ok=True)
    for name, w, h, ch in (("rgb.qoi", 29, 17, 3), ("rgba.qoi", 23, 11, 4), ("flat.qoi", 70, 3, 3)):
        pixels = picture(w, h, ch == 4) if name != "flat.qoi" else [(5, 6, 7, 255)] * (w * h)
        with open(os.path.join(out, name), "wb") as f:
            f.write(encode(w, h, ch, pixels))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes the Autodesk cel/picture fuzzer's seed files: small files in the Animator layout
(32-byte header, 768-byte palette of 6-bit components, 8-bit rows) built here from our own
pixels. Run from anywhere: fuzz/make_autodesk_seeds.py."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "seeds", "fuzz_autodesk")


def cel(w, h, bits=8, compression=0, cut=None):
    head = struct.pack("<HHHHHBBI", 0x9119, w, h, 3, 4, bits, compression, w * h) + bytes(16)
    palette = bytes((i * 3 + c * 17) % 64 for i in range(256) for c in range(3))
    data = head + palette + bytes((x * 5 + y * 11) & 255 for y in range(h) for x in range(w))
    return data if cut is None else data[:cut]


def main():
    os.makedirs(OUT, exist_ok=True)
    seeds = {
        "small.cel": cel(7, 5),
        "wide.pic": cel(40, 2),
        "odd_bits.cel": cel(3, 3, bits=4),
        "short.cel": cel(16, 16, cut=900),
    }
    for name, data in seeds.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()

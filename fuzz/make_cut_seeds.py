#!/usr/bin/env python3
"""Writes the Dr. Halo CUT fuzzer's seed files: small CUT pictures built here from our own
pixels with runs, literal stretches, short data and rows of odd lengths. Run from anywhere:
fuzz/make_cut_seeds.py."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "seeds", "fuzz_cut")


def encode_row(row):
    """Runs of 3 or more equal bytes become run packets, the rest literal packets."""
    out, i = bytearray(), 0
    while i < len(row):
        j = i
        while j < len(row) and row[j] == row[i] and j - i < 127:
            j += 1
        if j - i >= 3:
            out += bytes([0x80 | (j - i), row[i]])
            i = j
            continue
        j = i
        while j < len(row) and j - i < 127 and not (
                j + 2 < len(row) and row[j] == row[j + 1] == row[j + 2]):
            j += 1
        out += bytes([j - i]) + bytes(row[i:j])
        i = j
    out.append(0)
    return struct.pack("<H", len(out)) + bytes(out)


def picture(w, h, pattern):
    head = struct.pack("<HHH", w, h, 0)
    return head + b"".join(encode_row([pattern(x, y) for x in range(w)]) for y in range(h))


def main():
    os.makedirs(OUT, exist_ok=True)
    seeds = {
        "stripes.cut": picture(17, 6, lambda x, y: (x // 4 * 40 + y) & 255),
        "noise.cut": picture(9, 5, lambda x, y: (x * 73 + y * 151) & 255),
        "flat.cut": picture(200, 3, lambda x, y: y * 60),
        "short.cut": picture(12, 8, lambda x, y: x * 20)[:40],
    }
    for name, data in seeds.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()

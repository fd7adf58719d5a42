#!/usr/bin/env python3
"""Writes the metafile fuzzer's seeds: small WMF (placeable and plain) and EMF files built here
record by record, covering objects, shapes, text, bitmaps, clipping, paths and transforms.
Run from anywhere: fuzz/make_metafile_seeds.py (rewrites fuzz/seeds/fuzz_metafile/)."""
import os
import struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "seeds", "fuzz_metafile")


def wmf_rec(function, words, tail=b""):
    if len(tail) % 2:
        tail += b"\0"
    size = 3 + len(words) + len(tail) // 2
    return struct.pack("<IH", size, function) + struct.pack("<%dh" % len(words), *words) + tail


def wmf(records, bbox=(0, 0, 64, 48), placeable=True):
    body = b"".join(records) + wmf_rec(0, [])
    head = struct.pack("<HHHIHIH", 1, 9, 0x300, 9 + len(body) // 2, 8, 64, 0)
    if not placeable:
        return head + body
    return struct.pack("<IHhhhhHIH", 0x9AC6CDD7, 0, *bbox, 96, 0, 0) + head + body


def emf_rec(kind, values, tail=b""):
    tail += b"\0" * (-len(tail) % 4)
    data = struct.pack("<%di" % len(values), *values) + tail
    return struct.pack("<II", kind, 8 + len(data)) + data


def emf(records, w=64, h=48):
    body = b"".join(records) + emf_rec(14, [0, 0, 0])
    head = struct.pack("<II4i4iIIIIHHIII4i", 1, 88, 0, 0, w - 1, h - 1, 0, 0,
                       w * 2540 // 96 - 1, h * 2540 // 96 - 1, 0x464D4520, 0x10000,
                       88 + len(body), 0, 8, 0, 0, 0, 0, 960, 960, 254, 254)
    return head + body


def dib(w, h):
    row = bytes((x * 40) % 256 for x in range(w * 3)) + b"\0" * (-(w * 3) % 4)
    return struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, 0, 0, 0, 0, 0), row * h


def main():
    os.makedirs(OUT, exist_ok=True)
    info, bits = dib(3, 2)
    seeds = {
        "shapes.wmf": wmf([
            wmf_rec(0x02FA, [0, 2, 0, 0x00FF, 0]), wmf_rec(0x012D, [0]),
            wmf_rec(0x02FC, [2, 0x0000, 0x00FF, 3]), wmf_rec(0x012D, [1]),
            wmf_rec(0x0103, [8]), wmf_rec(0x020B, [0, 0]), wmf_rec(0x020C, [48, 64]),
            wmf_rec(0x041B, [40, 30, 5, 5]), wmf_rec(0x0418, [45, 60, 10, 30]),
            wmf_rec(0x061C, [6, 6, 30, 60, 20, 40]),
            wmf_rec(0x081A, [0, 0, 48, 64, 40, 60, 8, 34]),
            wmf_rec(0x0538, [2, 3, 3, 0, 0, 20, 0, 0, 20, 30, 30, 40, 30, 30, 40]),
            wmf_rec(0x0416, [40, 50, 4, 4]), wmf_rec(0x001E, []), wmf_rec(0x0127, [-1]),
            wmf_rec(0x0214, [1, 1]), wmf_rec(0x0213, [47, 63]),
        ]),
        "text.wmf": wmf([
            wmf_rec(0x02FB, [-14, 0, 0, 0, 700, 1, 0, 0, 0], b"Sans\0"), wmf_rec(0x012D, [0]),
            wmf_rec(0x0209, [0xFF, 0]), wmf_rec(0x012E, [6]),
            wmf_rec(0x0521, [5], b"Hello" + b"\0" + struct.pack("<hh", 20, 32)),
            wmf_rec(0x0A32, [30, 4, 3, 6, 0, 20, 60, 40], b"abc\0" + struct.pack("<hhh", 5, 6, 7)),
        ]),
        "bitmap.wmf": wmf([
            wmf_rec(0x0F43, [0x0020, 0x00CC, 0, 2, 3, 0, 0, 20, 30, 4, 4], info + bits),
            wmf_rec(0x0B41, [0x0020, 0x00CC, 2, 3, 0, 0, 10, 10, 30, 30], info + bits),
            wmf_rec(0x0142, [5, 0], info + bits), wmf_rec(0x012D, [0]),
            wmf_rec(0x061D, [0x0021, 0x00F0, 10, 10, 2, 50]),
        ]),
        "plain.wmf": wmf([wmf_rec(0x020C, [30, 40]), wmf_rec(0x0324, [3, 0, 0, 39, 0, 0, 29])],
                         placeable=False),
        "shapes.emf": emf([
            emf_rec(39, [1, 0, 0x00FF00, 0]), emf_rec(37, [1]),
            emf_rec(38, [2, 1, 3, 0, 0x0000FF]), emf_rec(37, [2]),
            emf_rec(43, [2, 2, 30, 20]), emf_rec(42, [20, 10, 60, 40]),
            emf_rec(47, [0, 0, 40, 40, 40, 20, 20, 0]), emf_rec(17, [8]),
            emf_rec(9, [64, 48]), emf_rec(11, [64, 48]),
            emf_rec(86, [0, 0, 0, 0, 3, 0, 20 << 16 | 20, 40]),
            emf_rec(91, [0, 0, 0, 0, 2, 6, 3, 3, 0, 10, 10 << 16, 20 << 16 | 20, 30, 40]),
            emf_rec(35, [struct.unpack("<i", struct.pack("<f", f))[0]
                         for f in (0.9, 0.1, -0.1, 0.9, 3.0, 2.0)]),
            emf_rec(59, []), emf_rec(27, [5, 5]), emf_rec(54, [50, 5]), emf_rec(54, [50, 40]),
            emf_rec(61, []), emf_rec(60, []), emf_rec(63, [0, 0, 0, 0]),
            emf_rec(30, [0, 0, 40, 30]), emf_rec(33, []), emf_rec(34, [-1]),
        ]),
        "text.emf": emf([
            emf_rec(82, [1, -16, 0, 0, 0, 400, 0, 0] + [0] * 16),
            emf_rec(37, [1]), emf_rec(24, [0xFF]), emf_rec(22, [24]), emf_rec(18, [2]),
            emf_rec(84, [0, 0, 0, 0, 1, 0, 0, 4, 30, 3, 76, 4, 0, 0, 64, 48, 84],
                    "EMF".encode("utf-16-le") + b"\0\0" + struct.pack("<3i", 8, 9, 10)),
        ]),
        "bitmap.emf": emf([
            emf_rec(81, [0, 0, 0, 0, 4, 4, 0, 0, 3, 2, 80, len(info), 80 + len(info), len(bits),
                         0, 0x00CC0020, 30, 20], info + bits),
            emf_rec(75, [48, 1, 32, 1, 1, 16, 0, 0, 32, 32, 0, 0, 32, 32]),
            emf_rec(94, [3, 0, 24, len(info), 24 + len(info), len(bits)], info + bits),
            emf_rec(37, [3]), emf_rec(43, [30, 30, 60, 45]),
        ]),
    }
    for name, data in seeds.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()

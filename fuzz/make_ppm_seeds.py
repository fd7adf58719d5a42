#!/usr/bin/env python3
"""Writes the portable map fuzzer's seed files: small PBM, PGM and PPM files built here from
our own pixels, text and binary, 8-bit and 16-bit samples, with comments and unusual
separators. Run from anywhere: fuzz/make_ppm_seeds.py."""
import os

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "seeds", "fuzz_ppm")


def pixels(w, h, samples, top):
    return [[(x * 7 + y * 13 + c * 29) % (top + 1) for x in range(w) for c in range(samples)]
            for y in range(h)]


def text(kind, w, h, top, header_sep=b"\n", sep=b" ", comment=b""):
    samples = 3 if kind == 3 else 1
    head = b"P%d" % kind + header_sep + comment + b"%d %d" % (w, h)
    if kind != 1:
        head += b"\n%d" % top
    head += b"\n"
    rows = pixels(w, h, samples, 1 if kind == 1 else top)
    return head + b"\n".join(sep.join(b"%d" % v for v in r) for r in rows) + b"\n"


def binary(kind, w, h, top, comment=b""):
    head = b"P%d\n" % kind + comment + b"%d %d\n" % (w, h)
    if kind == 4:
        body = b""
        for r in pixels(w, h, 1, 1):
            bits = "".join(str(v) for v in r) + "0" * (-w % 8)
            body += bytes(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8))
        return head + body
    head += b"%d\n" % top
    samples = 3 if kind == 6 else 1
    size = 2 if top > 255 else 1
    return head + b"".join(v.to_bytes(size, "big") for r in pixels(w, h, samples, top) for v in r)


def main():
    os.makedirs(OUT, exist_ok=True)
    seeds = {
        "p1.pbm": text(1, 9, 4, 1),
        "p1_packed.pbm": text(1, 11, 3, 1, sep=b""),
        "p2.pgm": text(2, 5, 4, 255, comment=b"# gray\n"),
        "p2_16.pgm": text(2, 4, 3, 65535),
        "p2_15.pgm": text(2, 4, 3, 15, header_sep=b" "),
        "p3.ppm": text(3, 4, 3, 255),
        "p3_1023.ppm": text(3, 3, 2, 1023, sep=b"\r\n"),
        "p4.pbm": binary(4, 13, 5, 1),
        "p5.pgm": binary(5, 7, 5, 255, comment=b"# made by the seed script\n"),
        "p5_16.pgm": binary(5, 6, 3, 65535),
        "p6.ppm": binary(6, 6, 4, 255),
        "p6_100.ppm": binary(6, 5, 3, 100),
        "p6_4095.ppm": binary(6, 3, 3, 4095),
    }
    for name, data in seeds.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()

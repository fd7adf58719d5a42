#!/usr/bin/env python3
"""Writes the JPEG 2000 fuzzer's seed files: small pictures made here from our own pixels and
encoded with opj_compress (Debian's libopenjp2-tools): grey and 12-bit grey codestreams, RGB and
RGBA in JP2 boxes, lossy tiles, and 4:2:0 YCC from planar raw input. Run from anywhere:
fuzz/make_jpeg2000_seeds.py."""
import os
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
W, H = 19, 13


def samples(count, maxval):
    return [(x * 37 + y * 91 + c * 61 + x * y) * (maxval // 255) % (maxval + 1)
            for y in range(H) for x in range(W) for c in range(count)]


def write_pnm(path, magic, count, maxval):
    data = samples(count, maxval)
    with open(path, "wb") as f:
        if magic == "P7":
            f.write(b"P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n"
                    % (W, H))
        else:
            f.write(b"%s\n%d %d\n%d\n" % (magic.encode(), W, H, maxval))
        if maxval > 255:
            f.write(b"".join(v.to_bytes(2, "big") for v in data))
        else:
            f.write(bytes(data))


def main():
    out = os.path.join(HERE, "seeds", "fuzz_jpeg2000")
    os.makedirs(out, exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        p = lambda name: os.path.join(tmp, name)
        write_pnm(p("g.pgm"), "P5", 1, 255)
        write_pnm(p("g12.pgm"), "P5", 1, 4095)
        write_pnm(p("c.ppm"), "P6", 3, 255)
        write_pnm(p("a.pam"), "P7", 4, 255)
        with open(p("ycc.raw"), "wb") as f:
            f.write(bytes(v & 255 for v in range(W * H + 2 * 10 * 7)))
        runs = {
            "grey.j2k": [p("g.pgm"), "-n", "3"],
            "grey12.jp2": [p("g12.pgm"), "-n", "3"],
            "rgb.jp2": [p("c.ppm"), "-n", "3"],
            "rgba.jp2": [p("a.pam"), "-n", "3"],
            "tiled_lossy.j2k": [p("c.ppm"), "-n", "2", "-t", "8,8", "-r", "10"],
            "ycc420.j2k": [p("ycc.raw"), "-n", "2", "-mct", "0", "-F",
                           "%d,%d,3,8,u@1x1:2x2:2x2" % (W, H)],
        }
        for name, args in runs.items():
            subprocess.run(["opj_compress", "-i", args[0], "-o", os.path.join(out, name)]
                           + args[1:], check=True, stdout=subprocess.DEVNULL)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes the JPEG XL fuzzer's seed files: small pictures made here from our own pixels and
encoded with cjxl (Debian's libjxl-tools): grey, RGB and RGBA, lossless and lossy, 16-bit, and a
JPEG recompressed into the container. Run from anywhere: fuzz/make_jxl_seeds.py."""
import os
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
W, H = 19, 13


def write_pnm(path, magic, count, maxval):
    data = [(x * 9 + y * 13 + c * 61 + x * y) * (maxval // 255) % (maxval + 1)
            for y in range(H) for x in range(W) for c in range(count)]
    with open(path, "wb") as f:
        if magic == "P7":
            f.write(b"P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n"
                    % (W, H))
        else:
            f.write(b"%s\n%d %d\n%d\n" % (magic.encode(), W, H, maxval))
        f.write(b"".join(v.to_bytes(2 if maxval > 255 else 1, "big") for v in data))


def main():
    out = os.path.join(HERE, "seeds", "fuzz_jxl")
    os.makedirs(out, exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        p = lambda name: os.path.join(tmp, name)
        write_pnm(p("g.pgm"), "P5", 1, 255)
        write_pnm(p("c.ppm"), "P6", 3, 255)
        write_pnm(p("c16.ppm"), "P6", 3, 65535)
        write_pnm(p("a.pam"), "P7", 4, 255)
        subprocess.run(["cjpeg", "-outfile", p("c.jpg"), p("c.ppm")], check=True)
        runs = {
            "grey.jxl": [p("g.pgm"), "-d", "0"],
            "rgb_lossless.jxl": [p("c.ppm"), "-d", "0"],
            "rgb_lossy.jxl": [p("c.ppm"), "-d", "2"],
            "rgb16.jxl": [p("c16.ppm"), "-d", "0"],
            "rgba_lossless.jxl": [p("a.pam"), "-d", "0"],
            "rgba_lossy.jxl": [p("a.pam"), "-d", "1"],
            "jpeg_container.jxl": [p("c.jpg")],
        }
        for name, args in runs.items():
            subprocess.run(["cjxl", args[0], os.path.join(out, name)] + args[1:], check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes the HEIF and AVIF fuzzers' seed files: small pictures made here from our own pixels
(a PAM turned into PNG by ImageMagick) and encoded with heif-enc (libheif-examples) and avifenc
(libavif-bin): 8 and 10 bits, with and without alpha, odd sizes, rotation and mirroring, and a
two-frame AVIF sequence. Run from anywhere: fuzz/make_heif_avif_seeds.py."""
import os
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


def png(tmp, name, w, h, phase, depth=8):
    pam = os.path.join(tmp, name + ".pam")
    with open(pam, "wb") as f:
        f.write(b"P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n"
                % (w, h))
        f.write(bytes(v & 255 for y in range(h) for x in range(w)
                      for v in (x * 9 + phase, y * 13, x * y + phase, x * 255 // max(w - 1, 1))))
    out = os.path.join(tmp, name + ".png")
    subprocess.run(["convert", pam, "-depth", str(depth), out], check=True)
    return out


def run(cmd):
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def main():
    heif = os.path.join(HERE, "seeds", "fuzz_heif")
    avif = os.path.join(HERE, "seeds", "fuzz_avif")
    os.makedirs(heif, exist_ok=True)
    os.makedirs(avif, exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        a = png(tmp, "a", 19, 11, 0)
        b = png(tmp, "b", 19, 11, 90)
        deep = png(tmp, "deep", 16, 8, 30, 16)
        q = ["-q", "30"]
        run(["heif-enc"] + q + ["--no-alpha", a, "-o", os.path.join(heif, "rgb.heic")])
        run(["heif-enc"] + q + [a, "-o", os.path.join(heif, "alpha.heic")])
        run(["heif-enc"] + q + ["-b", "10", deep, "-o", os.path.join(heif, "deep10.heic")])
        run(["heif-enc", "-L", "-p", "chroma=444", "--no-alpha", a, "-o",
             os.path.join(heif, "lossless.heic")])
        s = ["avifenc", "-s", "10", "--min", "30", "--max", "40"]
        run(s + ["-y", "420", a, os.path.join(avif, "yuv420_alpha.avif")])
        run(s + ["-y", "444", "--irot", "1", "--imir", "0", a, os.path.join(avif, "turned.avif")])
        run(s + ["-d", "10", "-y", "422", deep, os.path.join(avif, "deep10.avif")])
        run(s + ["-y", "400", "--crop", "0,0,16,8", a, os.path.join(avif, "grey_clap.avif")])
        run(s + [a, b, os.path.join(avif, "sequence.avifs")])


if __name__ == "__main__":
    main()

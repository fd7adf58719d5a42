#!/usr/bin/env python3
"""Writes the WebP fuzzer's seed files: small pictures made here from our own pixels and encoded
with cwebp (from Debian's webp package) as lossy, lossless, with and without alpha, plus a
two-frame animation assembled with img2webp. Run from anywhere: fuzz/make_webp_seeds.py."""
import os
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


def pam(path, w, h, phase):
    with open(path, "wb") as f:
        f.write(b"P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n"
                % (w, h))
        f.write(bytes(v & 255 for y in range(h) for x in range(w)
                      for v in (x * 9 + phase, y * 13, x * y + phase, x * 255 // max(w - 1, 1))))


def main():
    out = os.path.join(HERE, "seeds", "fuzz_webp")
    os.makedirs(out, exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        a, b = os.path.join(tmp, "a.pam"), os.path.join(tmp, "b.pam")
        pam(a, 29, 17, 0)
        pam(b, 29, 17, 90)
        runs = {
            "lossy.webp": ["cwebp", "-quiet", "-q", "60", "-noalpha", a],
            "lossy_alpha.webp": ["cwebp", "-quiet", "-q", "60", a],
            "lossless.webp": ["cwebp", "-quiet", "-lossless", "-noalpha", a],
            "lossless_alpha.webp": ["cwebp", "-quiet", "-lossless", a],
            "lossy_alpha_lossy.webp": ["cwebp", "-quiet", "-alpha_q", "30", a],
        }
        for name, cmd in runs.items():
            subprocess.run(cmd + ["-o", os.path.join(out, name)], check=True)
        subprocess.run(["img2webp", "-loop", "0", "-lossy", a, "-lossless", b, "-o",
                        os.path.join(out, "animation.webp")], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Writes the container seeds of fuzz_exif: a small picture carrying one EXIF block with camera,
exposure, date and GPS entries, as JPEG, TIFF, PNG and WebP (Pillow) and as HEIF, AVIF and
JPEG XL (heif-enc, avifenc and cjxl from the JPEG, where installed). Needs Debian's python3-pil.
Run from anywhere: fuzz/make_exif_seeds.py (rewrites the files it makes)."""
import os
import shutil
import subprocess
import tempfile

from PIL import Image
from PIL.TiffImagePlugin import IFDRational as R

HERE = os.path.dirname(os.path.abspath(__file__))
EXIF = os.path.join(HERE, "seeds", "fuzz_exif")


def exif():
    ex = Image.Exif()
    ex[0x010F] = "Canon"
    ex[0x0110] = "EOS 5D"
    ex[0x0131] = "GIMP"
    ex[0x0112] = 6
    ex[0x8769] = {0x829A: R(1, 250), 0x829D: R(28, 10), 0x8827: 400, 0x920A: R(50, 1),
                  0x9003: "2024:05:06 07:08:09", 0xA434: "EF50mm f/1.8"}
    ex[0x8825] = {1: "N", 2: (R(48), R(51), R(24)), 3: "W", 4: (R(2), R(21), R(0))}
    return ex.tobytes()


def main():
    os.makedirs(EXIF, exist_ok=True)
    im = Image.new("RGB", (8, 8), (200, 100, 50))
    block = exif()
    for ext in ("jpg", "tif", "png", "webp"):
        im.save(os.path.join(EXIF, "camera." + ext), exif=block)
    jpeg = os.path.join(EXIF, "camera.jpg")
    with tempfile.TemporaryDirectory() as tmp:
        for name, command in (("camera.heic", ["heif-enc", "-q", "50", jpeg, "-o"]),
                              ("camera.avif", ["avifenc", "-s", "10", jpeg]),
                              ("camera.jxl", ["cjxl", jpeg])):
            if shutil.which(command[0]) is None:
                continue
            out = os.path.join(tmp, name)
            subprocess.run(command + [out], check=True, capture_output=True)
            shutil.copy(out, os.path.join(EXIF, name))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes the colour-profile fuzzer's seeds: profiles Little CMS makes through Pillow's ImageCms
(sRGB, Lab, XYZ), one of them also as the data of a PNG iCCP chunk. Run with Debian's Python
(/usr/bin/python3, which has python3-pil): fuzz/make_icc_seeds.py."""
import os
import zlib

from PIL import ImageCms

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "seeds", "fuzz_icc")
os.makedirs(OUT, exist_ok=True)
for name in ("sRGB", "LAB", "XYZ"):
    data = ImageCms.ImageCmsProfile(ImageCms.createProfile(name)).tobytes()
    with open(os.path.join(OUT, name.lower() + ".icc"), "wb") as f:
        f.write(data)
    if name == "sRGB":
        with open(os.path.join(OUT, "iccp-chunk.bin"), "wb") as f:
            f.write(b"ICC profile\0\0" + zlib.compress(data))

# Small pictures with the sRGB profile embedded, for the loaders' harnesses: the profile paths
# (PNG iCCP, JPEG APP2, TIFF tag 34675, WebP ICCP) are reached from the first input on.
from PIL import Image  # noqa: E402

icc = ImageCms.ImageCmsProfile(ImageCms.createProfile("sRGB")).tobytes()
picture = Image.new("RGB", (8, 6))
picture.putdata([(x * 30, y * 40, (x + y) * 15) for y in range(6) for x in range(8)])
for target, name, options in (
    ("fuzz_png", "icc.png", {}),
    ("fuzz_jpeg", "icc.jpg", {"quality": 90}),
    ("fuzz_tiff", "icc.tif", {}),
    ("fuzz_webp", "icc.webp", {"lossless": True}),
):
    folder = os.path.join(HERE, "seeds", target)
    os.makedirs(folder, exist_ok=True)
    picture.save(os.path.join(folder, name), icc_profile=icc, **options)

#!/usr/bin/env python3
"""Writes the thumbnail fuzzer's seed files: pictures whose thumbnails take a reduced path, made
here from a small photo-like picture: a JPEG carrying a camera thumbnail (upright and turned),
a progressive JPEG, a HEIF file with an embedded thumbnail (heif-enc), a JPEG 2000 file of four
resolution levels (opj_compress), and an SVG drawing. The last byte of each file picks the size.
Run from anywhere: fuzz/make_thumbnail_seeds.py."""
import os
import struct
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


def run(cmd):
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def ppm(path, w, h):
    with open(path, "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (w, h))
        f.write(bytes(v & 255 for y in range(h) for x in range(w)
                      for v in (x * 3 + y, y * 5, 255 - x)))


def with_exif_thumbnail(jpeg, thumb, orientation):
    """The JPEG file with an EXIF block: IFD0 holds the orientation, IFD1 the thumbnail."""
    def entry(tag, kind, value):
        return struct.pack("<HHI", tag, kind, 1) + (struct.pack("<HH", value, 0) if kind == 3
                                                   else struct.pack("<I", value))
    tiff = b"II*\0" + struct.pack("<I", 8)
    tiff += struct.pack("<H", 1) + entry(0x0112, 3, orientation) + struct.pack("<I", 26)
    tiff += struct.pack("<H", 2) + entry(0x0201, 4, 56) + entry(0x0202, 4, len(thumb))
    tiff += struct.pack("<I", 0) + thumb
    app1 = b"\xff\xe1" + struct.pack(">H", len(tiff) + 8) + b"Exif\0\0" + tiff
    return jpeg[:2] + app1 + jpeg[2:]


def main():
    out = os.path.join(HERE, "seeds", "fuzz_thumbnail")
    os.makedirs(out, exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        big, small = os.path.join(tmp, "big.ppm"), os.path.join(tmp, "small.ppm")
        ppm(big, 320, 240)
        ppm(small, 160, 120)
        files = {}
        for name, source, extra in (("big.jpg", big, []), ("small.jpg", small, []),
                                    ("progressive.jpg", big, ["-progressive"])):
            path = os.path.join(tmp, name)
            run(["cjpeg", "-quality", "60"] + extra + ["-outfile", path, source])
            files[name] = open(path, "rb").read()
        thumb = files["small.jpg"]
        seeds = {
            "exif_thumbnail.jpg": with_exif_thumbnail(files["big.jpg"], thumb, 1) + b"\x02",
            "exif_thumbnail_turned.jpg": with_exif_thumbnail(files["big.jpg"], thumb, 6) + b"\x00",
            "progressive.jpg": files["progressive.jpg"] + b"\x01",
            "drawing.svg": b"<svg xmlns='http://www.w3.org/2000/svg' width='300' height='90'>"
                           b"<circle cx='45' cy='45' r='40' fill='#c33'/></svg>\n\x03",
        }
        png = os.path.join(tmp, "big.png")
        run(["convert", big, png])
        for name, cmd in (("thumbnail.heic", ["heif-enc", "-q", "40", "-t", "100", "-o"]),
                          ("levels.jp2", None)):
            path = os.path.join(tmp, name)
            if cmd:
                run(cmd + [path, png])
            else:
                run(["opj_compress", "-n", "4", "-r", "40", "-i", png, "-o", path])
            seeds[name] = open(path, "rb").read()
        for name, data in seeds.items():
            with open(os.path.join(out, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()

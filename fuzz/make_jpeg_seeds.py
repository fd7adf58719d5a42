#!/usr/bin/python3
"""Writes the four-component (CMYK, YCCK) and EXIF-orientation seeds of fuzz_jpeg and the EXIF
segment seeds of fuzz_exif, from pixels made here. The other JPEG seeds come from
tests/data/jpeg/make_fixtures.sh. Needs Debian's python3-pil.
Run from anywhere: fuzz/make_jpeg_seeds.py (rewrites the files it makes)."""
import io
import os
import struct

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
JPEG = os.path.join(HERE, "seeds", "fuzz_jpeg")
EXIF = os.path.join(HERE, "seeds", "fuzz_exif")


def exif_segment(big, entries, ifd=8, count=None, next_ifd=0, pad=True):
    """APP1 data: "Exif\\0\\0", a TIFF header, IFD0 at ifd (the header is padded up to it unless
    pad is false, which leaves the offset pointing elsewhere) with the (tag, type, count, value)
    entries (a SHORT value left-justified) and the next-IFD pointer."""
    e = ">" if big else "<"
    out = b"Exif\0\0" + (b"MM" if big else b"II") + struct.pack(e + "HI", 42, ifd)
    if pad:
        out += bytes(max(0, ifd - 8))
    out += struct.pack(e + "H", len(entries) if count is None else count)
    for tag, typ, n, value in entries:
        field = struct.pack(e + "HH", value, 0) if typ == 3 else struct.pack(e + "I", value)
        out += struct.pack(e + "HHI", tag, typ, n) + field
    return out + struct.pack(e + "I", next_ifd)


def orientation(big, value):
    return exif_segment(big, [(0x010F, 2, 4, 0), (274, 3, 1, value)])


def picture(mode, w=24, h=16):
    im = Image.new(mode, (w, h))
    bands = len(mode)
    im.putdata([tuple((x * 11 + y * 7 + b * 60) % 256 for b in range(bands))
                for y in range(h) for x in range(w)])
    return im


def jpeg(im, **options):
    out = io.BytesIO()
    im.save(out, "JPEG", quality=80, **options)
    return out.getvalue()


def adobe_at(data):
    """Offset of the APP14 "Adobe" segment's marker."""
    i = data.find(b"\xff\xee")
    while i >= 0 and data[i + 4:i + 9] != b"Adobe":
        i = data.find(b"\xff\xee", i + 1)
    return i


def without_adobe(data):
    i = adobe_at(data)
    n = struct.unpack(">H", data[i + 2:i + 4])[0]
    return data[:i] + data[i + 2 + n:]


def as_ycck(data):
    # The same coded data declared YCCK by the APP14 transform byte: a valid YCCK file (of other
    # colours) that takes the library's YCCK path.
    i = adobe_at(data)
    return data[:i + 15] + b"\x02" + data[i + 16:]


def main():
    os.makedirs(JPEG, exist_ok=True)
    os.makedirs(EXIF, exist_ok=True)
    cmyk = picture("CMYK")
    rgb = picture("RGB")
    seeds = {
        # Pillow writes CMYK with Adobe's inverted samples and the APP14 marker.
        "cmyk_adobe.jpg": jpeg(cmyk),
        "cmyk_plain.jpg": without_adobe(jpeg(cmyk)),
        "ycck.jpg": as_ycck(jpeg(cmyk)),
        "cmyk_progressive.jpg": jpeg(cmyk, progressive=True),
        "cmyk_exif5.jpg": jpeg(cmyk, exif=orientation(True, 5)),
        "exif6_le.jpg": jpeg(rgb, exif=orientation(False, 6)),
        "exif8_be_progressive.jpg": jpeg(rgb, exif=orientation(True, 8), progressive=True),
        "exif_broken.jpg": jpeg(rgb, exif=exif_segment(False, [(274, 3, 1, 3)], ifd=4000,
                                                       pad=False)),
    }
    for name, data in seeds.items():
        with open(os.path.join(JPEG, name), "wb") as f:
            f.write(data)
    segments = {
        "le6.bin": orientation(False, 6),
        "be3.bin": orientation(True, 3),
        "long.bin": exif_segment(False, [(274, 4, 1, 6)]),
        "far_ifd.bin": exif_segment(True, [(274, 3, 1, 8)], ifd=40),
        "loop.bin": exif_segment(False, [(0x010F, 2, 4, 0)], next_ifd=8),
        "past_end.bin": exif_segment(True, [(274, 3, 1, 6)], ifd=4000, pad=False),
    }
    for name, data in segments.items():
        with open(os.path.join(EXIF, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()

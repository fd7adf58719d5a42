#!/usr/bin/python3
"""Draws the file list's fallback type icons: a sheet of paper with a coloured band and a
simple sign per kind, at 16 and 32 pixels, for desktops whose icon theme lacks them.

Everything is drawn here from plain shapes, so the icons are the project's own. Run from the
repository root:  /usr/bin/python3 resources/make_type_icons.py  (Debian package python3-pil).
The names are the freedesktop generic icon names that QMimeType::genericIconName() gives.
"""
import os

from PIL import Image, ImageDraw

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "types")

# name: band colour, sign
KINDS = {
    "text-x-generic": ((90, 110, 130), "lines"),
    "text-x-script": ((60, 140, 60), "prompt"),
    "text-html": ((220, 120, 30), "globe"),
    "image-x-generic": ((40, 130, 200), "mountain"),
    "audio-x-generic": ((150, 70, 170), "note"),
    "video-x-generic": ((200, 50, 50), "play"),
    "package-x-generic": ((150, 110, 50), "box"),
    "application-x-executable": ((70, 70, 70), "gear"),
    "x-office-document": ((40, 90, 180), "lines"),
    "x-office-spreadsheet": ((40, 150, 80), "grid"),
    "x-office-presentation": ((210, 110, 40), "bars"),
    "font-x-generic": ((100, 100, 100), "letter"),
}


def draw_icon(size, band, sign):
    s = size / 32.0
    img = Image.new("RGBA", (size, size), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)

    def box(x0, y0, x1, y1):
        return [round(x0 * s), round(y0 * s), round(x1 * s) - 1, round(y1 * s) - 1]

    # The sheet with a folded corner.
    page = [(5, 2), (21, 2), (27, 8), (27, 30), (5, 30)]
    d.polygon([(round(x * s), round(y * s)) for x, y in page], fill=(250, 250, 250),
              outline=(120, 120, 120))
    d.polygon([(round(x * s), round(y * s)) for x, y in [(21, 2), (21, 8), (27, 8)]],
              fill=(210, 210, 210), outline=(120, 120, 120))
    # The band across the lower part, in the kind's colour.
    d.rectangle(box(6, 20, 27, 29), fill=band)
    light = (255, 255, 255)
    if sign == "lines":
        for y in (9, 13, 17):
            d.rectangle(box(8, y, 24 if y > 9 else 19, y + 2), fill=(150, 150, 150))
    elif sign == "prompt":
        d.line([tuple(box(8, 10, 0, 0)[:2]), tuple(box(12, 13, 0, 0)[:2]),
                tuple(box(8, 16, 0, 0)[:2])], fill=band, width=max(1, round(2 * s)))
        d.rectangle(box(14, 15, 20, 17), fill=band)
    elif sign == "globe":
        d.ellipse(box(10, 6, 22, 18), outline=band, width=max(1, round(2 * s)))
        d.line([tuple(box(16, 6, 0, 0)[:2]), tuple(box(16, 18, 0, 0)[:2])], fill=band)
        d.line([tuple(box(10, 12, 0, 0)[:2]), tuple(box(22, 12, 0, 0)[:2])], fill=band)
    elif sign == "mountain":
        d.polygon([(round(x * s), round(y * s)) for x, y in [(7, 19), (14, 9), (21, 19)]],
                  fill=(60, 150, 70))
        d.ellipse(box(19, 6, 24, 11), fill=(240, 190, 40))
    elif sign == "note":
        d.ellipse(box(10, 13, 16, 18), fill=band)
        d.rectangle(box(15, 5, 17, 16), fill=band)
        d.rectangle(box(15, 5, 22, 7), fill=band)
    elif sign == "play":
        d.polygon([(round(x * s), round(y * s)) for x, y in [(12, 7), (21, 12), (12, 17)]],
                  fill=band)
    elif sign == "box":
        d.rectangle(box(9, 7, 23, 18), fill=(200, 160, 90), outline=(120, 90, 40))
        d.rectangle(box(15, 7, 17, 18), fill=(120, 90, 40))
    elif sign == "gear":
        d.ellipse(box(9, 6, 23, 18), fill=band)
        d.ellipse(box(13, 9, 19, 15), fill=(250, 250, 250))
    elif sign == "grid":
        for x in (8, 14, 20):
            for y in (7, 11, 15):
                d.rectangle(box(x, y, x + 5, y + 3), outline=band)
    elif sign == "bars":
        for x, h in ((9, 8), (14, 12), (19, 6)):
            d.rectangle(box(x, 18 - h, x + 4, 18), fill=band)
    elif sign == "letter":
        d.polygon([(round(x * s), round(y * s)) for x, y in
                   [(10, 18), (15, 6), (17, 6), (22, 18), (19, 18), (16, 10), (13, 18)]],
                  fill=band)
    # A light stripe in the band, so the kinds tell apart also in grey.
    d.rectangle(box(9, 24, 24, 25), fill=light)
    return img


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, (band, sign) in KINDS.items():
        for size in (16, 32):
            draw_icon(size, band, sign).save(os.path.join(OUT, f"{name}-{size}.png"),
                                             optimize=True)


if __name__ == "__main__":
    main()

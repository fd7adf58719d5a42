#!/usr/bin/python3
"""Draws the About picture: 300 x 300, baseline JPEG, three 8-bit components.

Everything is drawn here from plain shapes and the program's name, so the picture is the
project's own. Run from the repository root:  /usr/bin/python3 resources/make_about_picture.py
(Debian package python3-pil).
"""
import os

from PIL import Image, ImageDraw, ImageFont

SIZE = 300
OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "about.jpg")


def font(size, bold=False):
    name = "DejaVuSans-Bold.ttf" if bold else "DejaVuSans.ttf"
    for folder in ("/usr/share/fonts/truetype/dejavu", "/usr/share/fonts/dejavu"):
        path = os.path.join(folder, name)
        if os.path.exists(path):
            return ImageFont.truetype(path, size)
    return ImageFont.load_default()


def main():
    img = Image.new("RGB", (SIZE, SIZE))
    draw = ImageDraw.Draw(img)
    # A vertical gradient from deep blue to teal.
    for y in range(SIZE):
        t = y / (SIZE - 1)
        draw.line([(0, y), (SIZE, y)],
                  fill=(int(20 + 10 * t), int(40 + 110 * t), int(110 + 40 * t)))
    # A stack of sheets (the files) and a framed picture with a sun and hills.
    for i, shade in enumerate((170, 200, 235)):
        x0, y0 = 40 + i * 12, 60 + i * 10
        draw.rectangle([x0, y0, x0 + 90, y0 + 115], fill=(shade, shade, shade),
                       outline=(60, 60, 60), width=2)
    for row in range(6):
        y = 95 + row * 13
        draw.line([(74, y), (150, y)], fill=(90, 90, 110), width=3)
    draw.rectangle([160, 70, 270, 170], fill=(250, 245, 220), outline=(40, 40, 40), width=3)
    draw.rectangle([168, 78, 262, 162], fill=(140, 200, 250))
    draw.ellipse([228, 86, 252, 110], fill=(255, 210, 40))
    draw.polygon([(168, 162), (200, 115), (228, 150), (245, 130), (262, 162)], fill=(40, 140, 60))
    # The program's name and a line under it.
    title = "Velkaro"
    f = font(52, bold=True)
    w = draw.textlength(title, font=f)
    draw.text(((SIZE - w) / 2 + 2, 197), title, font=f, fill=(10, 20, 40))
    draw.text(((SIZE - w) / 2, 195), title, font=f, fill=(255, 255, 255))
    draw.line([(60, 258), (240, 258)], fill=(255, 210, 40), width=3)
    sub = "file and picture reader"
    f2 = font(16)
    w2 = draw.textlength(sub, font=f2)
    draw.text(((SIZE - w2) / 2, 266), sub, font=f2, fill=(230, 240, 255))
    img.save(OUT, "JPEG", quality=85, progressive=False, optimize=False, subsampling=2)


if __name__ == "__main__":
    main()

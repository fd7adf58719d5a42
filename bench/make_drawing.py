#!/usr/bin/env python3
"""Writes the benchmarks' SVG drawing: WIDTH x HEIGHT pixels of overlapping shapes (rectangles,
circles, curved paths), some filled with gradients, some see-through, some outlined, from a
fixed seed, as a map or a diagram would hold them. No text, so both readers draw the same.

  bench/make_drawing.py OUT.svg WIDTH HEIGHT [SHAPES]   (SHAPES: 4000)
"""
import random
import sys


def main():
    out, width, height = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    count = int(sys.argv[4]) if len(sys.argv) > 4 else 4000
    rnd = random.Random(1234)

    def colour():
        return "#%02x%02x%02x" % (rnd.randrange(256), rnd.randrange(256), rnd.randrange(256))

    parts = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d">'
             % (width, height, width, height), "<defs>"]
    for g in range(16):
        parts.append('<linearGradient id="g%d" x1="0" y1="0" x2="1" y2="1">'
                     '<stop offset="0" stop-color="%s"/><stop offset="1" stop-color="%s"/>'
                     '</linearGradient>' % (g, colour(), colour()))
    parts.append("</defs>")
    parts.append('<rect width="%d" height="%d" fill="#f4f1ea"/>' % (width, height))
    for _ in range(count):
        x, y = rnd.uniform(0, width), rnd.uniform(0, height)
        size = rnd.uniform(10, width / 12)
        fill = "url(#g%d)" % rnd.randrange(16) if rnd.random() < 0.3 else colour()
        style = 'fill="%s"' % fill
        if rnd.random() < 0.4:
            style += ' fill-opacity="%.2f"' % rnd.uniform(0.2, 0.9)
        if rnd.random() < 0.5:
            style += ' stroke="%s" stroke-width="%.1f"' % (colour(), rnd.uniform(0.5, 6))
        kind = rnd.randrange(3)
        if kind == 0:
            parts.append('<rect x="%.1f" y="%.1f" width="%.1f" height="%.1f" %s/>'
                         % (x, y, size, size * rnd.uniform(0.3, 1.5), style))
        elif kind == 1:
            parts.append('<circle cx="%.1f" cy="%.1f" r="%.1f" %s/>' % (x, y, size / 2, style))
        else:
            d = "M%.1f %.1f" % (x, y)
            for _ in range(4):
                d += " C%.1f %.1f %.1f %.1f %.1f %.1f" % tuple(
                    v + rnd.uniform(-size, size) for v in (x, y, x, y, x, y))
            parts.append('<path d="%s Z" %s/>' % (d, style))
    parts.append("</svg>")
    with open(out, "w") as f:
        f.write("\n".join(parts))


if __name__ == "__main__":
    main()

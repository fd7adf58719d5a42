#!/usr/bin/env python3
"""Writes the SVG fuzzer's seed files: small documents written here by hand that reach the
root's size forms, shapes, paths, gradients, patterns, references, styles and transforms, plain
and gzip-compressed. Run from anywhere: fuzz/make_svg_seeds.py."""
import gzip
import os

HERE = os.path.dirname(os.path.abspath(__file__))

NS = 'xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink"'

DOCS = {
    "shapes.svg": f"""<?xml version="1.0"?>
<!-- shapes -->
<svg {NS} width="40" height="30" viewBox="0 0 80 60">
<rect x="2" y="2" width="30" height="20" rx="4" fill="#c33" stroke="#000" stroke-width="2"/>
<circle cx="50" cy="20" r="12" fill="blue" fill-opacity="0.5"/>
<ellipse cx="20" cy="45" rx="15" ry="8" fill="none" stroke="green" stroke-dasharray="3 2"/>
<polygon points="50,40 70,55 40,58" fill="orange" fill-rule="evenodd"/>
<polyline points="1,59 10,50 20,59 30,50" fill="none" stroke="purple" stroke-linejoin="round"/>
<line x1="0" y1="0" x2="80" y2="60" stroke="black" stroke-linecap="square"/>
</svg>""",
    "paths.svg": f"""<svg {NS} width="1in" height="20mm" preserveAspectRatio="xMinYMax slice"
 viewBox="0 0 100 50"><path d="M10 10 C 20 0, 40 0, 50 10 S 80 20, 90 10 Q 95 30 90 40
 T 60 45 A 20 10 30 0 1 20 40 L 5 30 Z m 5 -5 h 10 v 5 H 5 V 20 z" fill="#4a4"
 stroke="#222" transform="rotate(5 50 25) skewX(5)"/></svg>""",
    "paint.svg": f"""<svg {NS} viewBox="-10 -10 120 120" preserveAspectRatio="none">
<defs>
<linearGradient id="l" x1="0" y1="0" x2="1" y2="1" spreadMethod="reflect">
<stop offset="0" stop-color="red"/><stop offset="0.5" stop-color="#0f0" stop-opacity=".3"/>
<stop offset="1" stop-color="blue"/></linearGradient>
<radialGradient id="r" cx="50" cy="50" r="40" fx="30" fy="30" gradientUnits="userSpaceOnUse"
 xlink:href="#l"/>
<pattern id="p" width="10" height="10" patternUnits="userSpaceOnUse">
<rect width="5" height="5" fill="black"/></pattern>
<g id="g"><rect width="20" height="20" fill="url(#l)"/></g>
</defs>
<style>.c {{ fill: url(#r); stroke: rgb(10%, 20%, 30%); }}</style>
<rect class="c" width="100" height="100"/>
<use xlink:href="#g" x="60" y="60" opacity="0.5"/>
<rect x="5" y="70" width="30" height="25" fill="url(#p)"/>
<image x="70" y="5" width="4" height="4" xlink:href="data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8DwHwAFBQIAX8jx0gAAAABJRU5ErkJggg=="/>
</svg>""",
    "nested.svg": f"""<!DOCTYPE svg [<!ENTITY c "#808">]><svg {NS} width="32" height="32">
<svg x="4" y="4" width="24" height="24" viewBox="0 0 10 10"><circle cx="5" cy="5" r="5"
 fill="&c;"/></svg><g transform="matrix(1 0 0 1 2 2) scale(0.5)" opacity="0.7">
<text x="0" y="20" font-size="12">Ab</text></g></svg>""",
}


def main():
    out = os.path.join(HERE, "seeds", "fuzz_svg")
    os.makedirs(out, exist_ok=True)
    for name, text in DOCS.items():
        data = text.encode()
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
    with open(os.path.join(out, "paint.svgz"), "wb") as f:
        f.write(gzip.compress(DOCS["paint.svg"].encode(), mtime=0))


if __name__ == "__main__":
    main()

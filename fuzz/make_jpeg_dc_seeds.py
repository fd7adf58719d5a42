#!/usr/bin/python3
"""Writes the seeds of fuzz_jpeg_dc: small progressive JPEG files made by cjpeg from pixels made
here (gray and colour; 4:4:4, 4:2:2 and 4:2:0; restart intervals; scan scripts with DC
successive approximation and separate DC scans). Needs cjpeg (libjpeg-turbo-progs).
Run from anywhere: fuzz/make_jpeg_dc_seeds.py (rewrites the files it makes)."""
import os
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "seeds", "fuzz_jpeg_dc")

SUCCESSIVE = """0,1,2: 0-0, 0, 1;
0: 1-5, 0, 2; 1: 1-63, 0, 1; 2: 1-63, 0, 1; 0: 6-63, 0, 2; 0: 1-63, 2, 1;
0,1,2: 0-0, 1, 0;
1: 1-63, 1, 0; 2: 1-63, 1, 0; 0: 1-63, 1, 0;
"""
SEPARATE_DC = """0: 0-0, 0, 1; 1: 0-0, 0, 1; 2: 0-0, 0, 1;
0: 1-63, 0, 1; 1: 1-63, 0, 0; 2: 1-63, 0, 0;
0: 0-0, 1, 0; 1: 0-0, 1, 0; 2: 0-0, 1, 0;
0: 1-63, 1, 0;
"""


def ppm(w, h, gray):
    channels = 1 if gray else 3
    data = bytes((x * 13 + y * 29 + c * 70 + (x * y) % 17) % 256
                 for y in range(h) for x in range(w) for c in range(channels))
    return (b"P5" if gray else b"P6") + b" %d %d 255\n" % (w, h) + data


def cjpeg(source, args):
    return subprocess.run(["cjpeg", "-quality", "80"] + args + [source], check=True,
                          capture_output=True).stdout


def main():
    os.makedirs(OUT, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        colour, gray = os.path.join(work, "c.ppm"), os.path.join(work, "g.pgm")
        with open(colour, "wb") as f:
            f.write(ppm(40, 24, False))
        with open(gray, "wb") as f:
            f.write(ppm(17, 9, True))
        scripts = {}
        for name, text in (("successive", SUCCESSIVE), ("separate_dc", SEPARATE_DC)):
            scripts[name] = os.path.join(work, name + ".txt")
            with open(scripts[name], "w") as f:
                f.write(text)
        seeds = {
            "gray.jpg": (gray, ["-progressive"]),
            "colour_444.jpg": (colour, ["-progressive", "-sample", "1x1"]),
            "colour_422_restart.jpg": (colour, ["-progressive", "-sample", "2x1",
                                                "-restart", "2B"]),
            "colour_420.jpg": (colour, ["-progressive", "-sample", "2x2"]),
            "colour_420_successive.jpg": (colour, ["-scans", scripts["successive"],
                                                   "-sample", "2x2", "-restart", "1B"]),
            "colour_444_separate_dc.jpg": (colour, ["-scans", scripts["separate_dc"],
                                                    "-sample", "1x1"]),
        }
        for name, (source, args) in seeds.items():
            with open(os.path.join(OUT, name), "wb") as f:
                f.write(cjpeg(source, args))


if __name__ == "__main__":
    main()

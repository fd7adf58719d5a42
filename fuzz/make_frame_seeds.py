#!/usr/bin/env python3
"""Writes seeds for the frame and page paths: small animations (every GIF disposal, APNG dispose
and blend ops, an animated WebP), a TIFF of three pages and an icon of three entries, written by
Pillow and ImageMagick from pixels made here. Run from anywhere: fuzz/make_frame_seeds.py."""
import os
import subprocess

from PIL import Image, ImageDraw

HERE = os.path.dirname(os.path.abspath(__file__))


def frame(i, mode, w=12, h=10):
    im = Image.new(mode, (w, h), (0, 0, 0, 0) if mode == 'RGBA' else 0)
    dr = ImageDraw.Draw(im)
    dr.rectangle([i, i, i + 5, i + 4], fill=(200 - i * 40, 50 + i * 50, 90, 255))
    dr.point([(8 - i, 2)], fill=(30, 160, 220, 100 + i * 40))
    return im


def seeds(target):
    folder = os.path.join(HERE, 'seeds', target)
    os.makedirs(folder, exist_ok=True)
    return folder


a = [frame(i, 'RGBA') for i in range(4)]
g = [im.convert('RGB').quantize(8) for im in a]
g[0].save(os.path.join(seeds('fuzz_gif'), 'frames_disposal.gif'), save_all=True,
          append_images=g[1:], duration=[10, 50, 0, 70], disposal=[0, 1, 2, 3], loop=2,
          transparency=0)
a[0].save(os.path.join(seeds('fuzz_png'), 'frames.png'), save_all=True, append_images=a[1:],
          duration=[40, 60, 80, 100], disposal=[0, 1, 2, 0], blend=[0, 1, 1, 0], loop=3)
a[0].save(os.path.join(seeds('fuzz_webp'), 'frames.webp'), save_all=True, append_images=a[1:],
          duration=[40, 60, 80, 100], lossless=True)
t = [frame(i, 'RGBA', 6 + 3 * i, 5 + i).convert('RGB') for i in range(3)]
t[0].save(os.path.join(seeds('fuzz_tiff'), 'pages.tif'), save_all=True, append_images=t[1:])
subprocess.run(['convert', '-size', '8x8', 'gradient:red-blue', '-size', '16x16', 'xc:none',
                '-fill', '#30a0f0', '-draw', 'circle 8,8 8,2',
                os.path.join(seeds('fuzz_ico'), 'entries.ico')], check=True)

#!/usr/bin/env python3
"""Writes the Photo-CD fuzzer's seed files. The harness takes a mode byte first (see
fuzz_pcd.cpp): odd repeats the rest to the size of an image file. The seeds are the three
header sectors of image files with each rotation code and of an overview file, a little pixel
data after them, and one short file. Run from anywhere: fuzz/make_pcd_seeds.py."""
import os

HERE = os.path.dirname(os.path.abspath(__file__))


def header(rotation, overview):
    h = bytearray(3 * 2048)
    if overview:
        h[0:7] = b"PCD_OPA"
        h[11] = 2
    else:
        h[2048:2055] = b"PCD_IPI"
    h[3586] = rotation
    return bytes(h) + bytes((i * 7) & 255 for i in range(512))


def main():
    out = os.path.join(HERE, "seeds", "fuzz_pcd")
    os.makedirs(out, exist_ok=True)
    for rotation in range(4):
        with open(os.path.join(out, f"image_rotation{rotation}"), "wb") as f:
            f.write(b"\x01" + header(rotation, False))
    with open(os.path.join(out, "overview"), "wb") as f:
        f.write(b"\x01" + header(0, True))
    with open(os.path.join(out, "image_cut"), "wb") as f:
        f.write(b"\x03\x10\x00" + header(1, False))
    with open(os.path.join(out, "short"), "wb") as f:
        f.write(b"\x00" + header(0, False)[:6200])


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes the Photoshop fuzzer's seed files: small PSDs built here from our own pixels in every
colour mode, 1, 8 and 16 bits, raw and PackBits, with and without a layer section. Run from
anywhere: fuzz/make_psd_seeds.py."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def packbits(row):
    out, i = bytearray(), 0
    while i < len(row):
        run = 1
        while i + run < len(row) and run < 128 and row[i + run] == row[i]:
            run += 1
        if run >= 3:
            out += bytes([257 - run, row[i]])
            i += run
            continue
        n = min(128, len(row) - i)
        out += bytes([n - 1]) + row[i:i + n]
        i += n
    return bytes(out)


def psd(mode, channels, bits, w, h, packed, layers, colour=b""):
    row_bytes = (w * bits + 7) // 8
    planes = [bytes(((x // 2) * 29 + y * 13 + c * 51) & 255 for y in range(h)
                    for x in range(row_bytes)) for c in range(channels)]
    out = b"8BPS" + struct.pack(">H6xHIIHH", 1, channels, h, w, bits, mode)
    out += struct.pack(">I", len(colour)) + colour
    out += struct.pack(">I", 12) + b"8BIM" + struct.pack(">H6x", 0x3ED)
    layer = b"\xab" * 24 if layers else b""
    out += struct.pack(">I", len(layer) + 4 if layers else 0)
    if layers:
        out += struct.pack(">I", len(layer)) + layer
    out += struct.pack(">H", 1 if packed else 0)
    if not packed:
        return out + b"".join(planes)
    rows = [packbits(p[y * row_bytes:(y + 1) * row_bytes]) for p in planes for y in range(h)]
    return out + b"".join(struct.pack(">H", len(r)) for r in rows) + b"".join(rows)


def main():
    out = os.path.join(HERE, "seeds", "fuzz_psd")
    os.makedirs(out, exist_ok=True)
    palette = bytes(range(256)) + bytes(255 - i for i in range(256)) + bytes(
        (7 * i) & 255 for i in range(256))
    cases = [
        ("bitmap", 0, 1, 1, b""), ("gray8", 1, 1, 8, b""), ("gray16", 1, 1, 16, b""),
        ("indexed", 2, 1, 8, palette), ("rgb8", 3, 3, 8, b""), ("rgb16", 3, 3, 16, b""),
        ("rgba8", 3, 4, 8, b""), ("cmyk8", 4, 4, 8, b""), ("cmyk16", 4, 5, 16, b""),
        ("multichannel", 7, 3, 8, b""), ("duotone", 8, 1, 8, b"\x55" * 16),
        ("lab8", 9, 3, 8, b""), ("lab16", 9, 4, 16, b""),
    ]
    for name, mode, channels, bits, colour in cases:
        for packed in (False, True):
            data = psd(mode, channels, bits, 11, 4, packed, packed, colour)
            suffix = "packbits" if packed else "raw"
            with open(os.path.join(out, f"{name}_{suffix}.psd"), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()

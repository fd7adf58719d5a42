#!/usr/bin/env python3
"""Writes the SGI fuzzer's seed files: small SGI files built here from our own pixels with 1 to
4 channels, 8 and 16-bit samples, verbatim and run-length rows (with their offset and length
tables). Run from anywhere: fuzz/make_sgi_seeds.py."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "seeds", "fuzz_sgi")


def pack(row, bpc):
    fmt = ">H" if bpc == 2 else ">B"
    put = lambda v: struct.pack(fmt, v)
    out, i = b"", 0
    while i < len(row):
        n = 1
        while i + n < len(row) and n < 127 and row[i + n] == row[i]:
            n += 1
        if n > 2:
            out += put(n) + put(row[i])
        else:
            n = min(2, len(row) - i)
            out += put(0x80 | n) + b"".join(put(v) for v in row[i:i + n])
        i += n
    return out + put(0)


def sgi(channels, bpc, w, h, rle):
    top = 65535 if bpc == 2 else 255
    head = struct.pack(">HBBHHHH", 474, 1 if rle else 0, bpc, 3 if channels > 1 else 2, w, h,
                       channels)
    head += bytes(512 - len(head))
    rows = [[(x // 3 * 4099 + y * 977 + c * 31) % (top + 1) if x % 4 else top // 2
             for x in range(w)] for c in range(channels) for y in range(h)]
    fmt = ">H" if bpc == 2 else ">B"
    if not rle:
        return head + b"".join(struct.pack(fmt, v) for r in rows for v in r)
    packed = [pack(r, bpc) for r in rows]
    offset = 512 + 8 * len(packed)
    starts, lengths = b"", b""
    for p in packed:
        starts += struct.pack(">I", offset)
        lengths += struct.pack(">I", len(p))
        offset += len(p)
    return head + starts + lengths + b"".join(packed)


def main():
    os.makedirs(OUT, exist_ok=True)
    for channels in (1, 2, 3, 4):
        for bpc in (1, 2):
            for rle in (False, True):
                name = "c%d_b%d_%s.sgi" % (channels, bpc, "rle" if rle else "raw")
                with open(os.path.join(OUT, name), "wb") as f:
                    f.write(sgi(channels, bpc, 9 + channels, 4, rle))


if __name__ == "__main__":
    main()

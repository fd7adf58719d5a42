#!/usr/bin/env python3
"""Writes the Paint Shop Pro fuzzer's seed files: small files built here from our own pixels,
block by block, in versions 3 and 5, for every depth the loader reads, the three compressions,
a skipped layer, a transparency channel and an unknown block. The same files, prefixed with the
class byte 15 (the Paint Shop Pro class in registration order), seed the registry fuzzer.
Run from anywhere: fuzz/make_psp_seeds.py."""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
REGISTRY_CLASS = 15


def block(major, ident, contents):
    head = b"~BK\0" + struct.pack("<H", ident)
    if major == 3:
        head += struct.pack("<I", len(contents))
    return head + struct.pack("<I", len(contents)) + contents


def row_size(width, depth):
    return (width + 7) // 8 if depth == 1 else width // 2 + 1 if depth == 4 else width


def plane(width, height, depth, seed):
    size = row_size(width, depth)
    top = 255 if depth >= 8 else (1 << depth) - 1
    out = bytearray(size * height)
    for y in range(height):
        for x in range(width):
            v = ((y * 7 + seed) if x < width // 2 else (x * 13 + y * 5 + seed * 31)) % (top + 1)
            if depth >= 8:
                out[y * size + x] = v
            else:
                out[y * size + x * depth // 8] |= v << (8 - depth - (x * depth) % 8)
    return bytes(out)


def rle(data):
    out, i = b"", 0
    while i < len(data):
        run = 1
        while i + run < len(data) and data[i + run] == data[i] and run < 127:
            run += 1
        if run >= 3:
            out += bytes([128 + run, data[i]])
            i += run
            continue
        n = 0
        while (i + n < len(data) and n < 127 and
               not (i + n + 2 < len(data) and data[i + n] == data[i + n + 1] == data[i + n + 2])):
            n += 1
        out += bytes([n]) + data[i:i + n]
        i += n
    return out


def pack(data, compression):
    return data if compression == 0 else rle(data) if compression == 1 else zlib.compress(data)


def psp(major, width, height, depth, compression, grey=False, alpha=False, skipped_layer=False,
        unknown_block=False):
    out = b"Paint Shop Pro Image File\n\x1a".ljust(32, b"\0") + struct.pack("<HH", major, 0)
    attributes = struct.pack("<IIdBHHHIBIIHI", width, height, 72.0, 1, compression, depth, 1,
                             1 << min(depth, 24), grey, 0, 0, 1, 0)
    out += block(major, 0, (struct.pack("<I", 46) if major >= 4 else b"") + attributes)
    if depth < 24 and not grey:
        n = 1 << depth
        entries = b"".join(bytes([i * 3 % 256, 255 - i, i * 7 % 256, 0]) for i in range(n))
        out += block(major, 2, (struct.pack("<I", 8) if major >= 4 else b"") +
                     struct.pack("<I", n) + entries)
    if unknown_block:
        out += block(major, 9, bytes(17))
    raster = 0 if major == 3 else 1

    def layer(kind, seed):
        types = [1, 2, 3] if depth == 24 else [0]
        if depth == 24 and alpha:
            types.append(0)
        if major == 3:
            info = bytes(256) + bytes([kind]) + bytes(114) + struct.pack("<HH", 1, len(types))
        else:
            name = b"Layer"
            info = (struct.pack("<IH", 4 + 2 + len(name) + 115, len(name)) + name +
                    bytes([kind]) + bytes(114) + struct.pack("<IHH", 8, 1, len(types)))
        for i, t in enumerate(types):
            raw = plane(width, height, depth, seed + i)
            data = pack(raw, compression)
            fields = struct.pack("<IIHH", len(data), len(raw), 1 if i == 3 else 0, t)
            info += block(major, 5, (struct.pack("<I", 16) if major >= 4 else b"") + fields +
                          data)
        return block(major, 4, info)

    bank = b""
    if skipped_layer:
        bank += layer(1 if major == 3 else 3, 40)
    bank += layer(raster, 0)
    return out + block(major, 3, bank)


def main():
    seeds = {
        "v5_rgb_none.psp": psp(5, 6, 4, 24, 0),
        "v5_rgb_rle.psp": psp(5, 9, 3, 24, 1, skipped_layer=True),
        "v5_rgba_deflate.psp": psp(5, 5, 5, 24, 2, alpha=True),
        "v3_rgb_rle.psp": psp(3, 7, 3, 24, 1, unknown_block=True),
        "v3_pal8_deflate.psp": psp(3, 8, 4, 8, 2, skipped_layer=True),
        "v5_grey8_rle.psp": psp(5, 8, 4, 8, 1, grey=True),
        "v4_pal4_none.psp": psp(4, 7, 3, 4, 0),
        "v5_pal1_rle.psp": psp(5, 19, 3, 1, 1, unknown_block=True),
    }
    folder = os.path.join(HERE, "seeds", "fuzz_psp")
    os.makedirs(folder, exist_ok=True)
    registry = os.path.join(HERE, "seeds", "fuzz_registry")
    os.makedirs(registry, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
        with open(os.path.join(registry, "%d_%s" % (REGISTRY_CLASS, name)), "wb") as f:
            f.write(bytes([REGISTRY_CLASS]) + data)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes the fuzzers' seed files: small Windows bitmaps and icons built here from our own
pixels, covering the header variants, bit depths and compressions the readers handle.
Run from anywhere: fuzz/make_seeds.py (rewrites fuzz/seeds/)."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def stride(width, bits):
    return (width * bits + 31) // 32 * 4


def rows(width, height, bits, value):
    out = b""
    for y in range(height):
        row = bytes(value(x, y) for x in range((width * bits + 7) // 8))
        out += row + bytes(stride(width, bits) - len(row))
    return out


def gray_palette(n, quad=True):
    return b"".join(bytes([i * 255 // max(n - 1, 1)] * 3) + (b"\0" if quad else b"")
                    for i in range(n))


def info(width, height, bits, compression=0, colors=0, size=40, masks=b""):
    head = struct.pack("<IiiHHIIiiII", size, width, height, 1, bits, compression, 0,
                       2835, 2835, colors, 0)
    if size > 40:
        head += masks + bytes(size - 40 - len(masks))
        masks = b""
    return head + masks


def bmp(dib_head, palette, data):
    off = 14 + len(dib_head) + len(palette)
    return b"BM" + struct.pack("<IHHI", off + len(data), 0, 0, off) + dib_head + palette + data


def seeds_bmp():
    s = {}
    w, h = 7, 5
    s["pal1.bmp"] = bmp(info(w, h, 1), gray_palette(2), rows(w, h, 1, lambda x, y: 0x5A ^ y))
    s["pal4.bmp"] = bmp(info(w, h, 4, colors=6), gray_palette(6),
                        rows(w, h, 4, lambda x, y: ((x + y) % 6) << 4 | (y % 6)))
    s["pal8topdown.bmp"] = bmp(info(w, -h, 8), gray_palette(256), rows(w, h, 8, lambda x, y: x * 30 + y))
    rle8 = bytes([3, 9, 0, 3, 1, 2, 3, 0, 1, 4, 0, 0, 0, 2, 2, 1, 2, 7, 0, 0, 7, 1, 0, 1])
    s["rle8.bmp"] = bmp(info(w, h, 8, compression=1), gray_palette(16, True) + bytes(240 * 4), rle8)
    rle4 = bytes([4, 0x12, 0, 3, 0x34, 0x50, 0, 0, 0, 2, 1, 1, 4, 0x77, 0, 1])
    s["rle4.bmp"] = bmp(info(w, h, 4, compression=2), gray_palette(16), rle4)
    s["rgb555.bmp"] = bmp(info(w, h, 16), b"", rows(w, h, 16, lambda x, y: (x * 37 + y) & 0xFF))
    s["rgb565.bmp"] = bmp(info(w, h, 16, compression=3, masks=struct.pack("<III", 0xF800, 0x7E0, 0x1F)),
                          b"", rows(w, h, 16, lambda x, y: (x * 11 + y * 5) & 0xFF))
    s["argb4444.bmp"] = bmp(info(w, h, 16, compression=3, size=56,
                                 masks=struct.pack("<IIII", 0xF00, 0xF0, 0xF, 0xF000)),
                            b"", rows(w, h, 16, lambda x, y: (x * 13 + y * 3) & 0xFF))
    s["rgb24.bmp"] = bmp(info(w, h, 24), b"", rows(w, h, 24, lambda x, y: (x * 7 + y * 40) & 0xFF))
    s["argb32v5.bmp"] = bmp(info(w, h, 32, compression=3, size=124,
                                 masks=struct.pack("<IIII", 0xFF0000, 0xFF00, 0xFF, 0xFF000000)),
                            b"", rows(w, h, 32, lambda x, y: (x * 9 + y * 17) & 0xFF))
    core = struct.pack("<IHHHH", 12, w, h, 1, 8)
    s["os2core.bmp"] = bmp(core, gray_palette(256, False), rows(w, h, 8, lambda x, y: x + 8 * y))
    return s


def icon(entries):
    head = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    body = b""
    for width, bits, data in entries:
        head += struct.pack("<BBBBHHII", width, width, 0, 0, 1, bits, len(data), offset)
        offset += len(data)
        body += data
    return head + body


def icon_image(n, bits, value):
    palette = gray_palette(1 << bits) if bits <= 8 else b""
    mask = rows(n, n, 1, lambda x, y: 0xF0 if y < 2 else 0)
    return info(n, 2 * n, bits) + palette + rows(n, n, bits, value) + mask


def seeds_ico():
    s = {}
    s["two_entries.ico"] = icon([(8, 8, icon_image(8, 8, lambda x, y: x * 20 + y)),
                                 (16, 4, icon_image(16, 4, lambda x, y: (x ^ y) & 0xFF))])
    s["alpha32.ico"] = icon([(4, 32, icon_image(4, 32, lambda x, y: (x * 50 + y * 9) & 0xFF))])
    s["mono.ico"] = icon([(16, 1, icon_image(16, 1, lambda x, y: 0xC3 ^ y))])
    png = (b"\x89PNG\r\n\x1a\n" + struct.pack(">I", 13) + b"IHDR" +
           struct.pack(">IIBBBBB", 16, 16, 8, 6, 0, 0, 0) + bytes(4))
    s["png_entry.ico"] = icon([(16, 32, png)])
    return s


def write(name, files):
    folder = os.path.join(HERE, "seeds", name)
    os.makedirs(folder, exist_ok=True)
    for fname, data in files.items():
        with open(os.path.join(folder, fname), "wb") as f:
            f.write(data)


def main():
    bmps, icos = seeds_bmp(), seeds_ico()
    write("fuzz_bmp", bmps)
    write("fuzz_ico", icos)
    # The registry fuzzer's first byte picks the class: 0 is the bitmap class, 1 the icon class
    # (the first two registrations).
    reg = {"0_" + k: b"\0" + v for k, v in bmps.items()}
    reg.update({"1_" + k: b"\1" + v for k, v in icos.items()})
    write("fuzz_registry", reg)


if __name__ == "__main__":
    main()

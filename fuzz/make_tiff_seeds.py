#!/usr/bin/env python3
"""Writes the TIFF and EPS fuzzers' seed files: small TIFFs built here from our own pixels in
both byte orders, uncompressed, PackBits and deflate, with predictor, palette, gray, RGB, RGBA,
CMYK, L*a*b*, subsampled YCbCr, separate planes, several strips and two directories, tiled
images of several layouts (edge tiles cropped), Orientation tags, and an EPS file around one
of them; with libtiff's tiffcp also JPEG, fax (Group 3 one- and two-dimensional, Group 4) and
LZW strips, whose first strips also seed the LZW and Group 4 decoder harnesses. Run from
anywhere: fuzz/make_tiff_seeds.py."""
import os
import shutil
import struct
import subprocess
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def packbits(data):
    out = bytearray()
    i = 0
    while i < len(data):
        run = 1
        while i + run < len(data) and run < 128 and data[i + run] == data[i]:
            run += 1
        if run > 1:
            out += bytes([257 - run, data[i]])
            i += run
        else:
            j = i + 1
            while j < len(data) and j - i < 128 and (j + 1 >= len(data) or data[j] != data[j + 1]):
                j += 1
            out += bytes([j - i - 1]) + data[i:j]
            i = j
    return bytes(out)


def tiff(width, height, bits, spp, photometric, rows, big=False, compression=1, predictor=1,
         planar=1, colormap=None, extra=None, subsampling=None, second=False, tile=None,
         orientation=None, tags=None):
    """rows: the data of each strip (or tile when tile = (width, length)), unpacked."""
    e = ">" if big else "<"
    strips = []
    for data in rows:
        if compression == 32773:
            data = packbits(data)
        elif compression == 8:
            data = zlib.compress(data)
        strips.append(data)
    entries = [(256, 4, [width]), (257, 4, [height]), (258, 3, [bits] * spp),
               (259, 3, [compression]), (262, 3, [photometric]), (277, 3, [spp]),
               (284, 3, [planar])]
    if tile:
        entries += [(322, 4, [tile[0]]), (323, 4, [tile[1]])]
    else:
        entries.append(
            (278, 4, [max(1, height // max(1, len(rows) // (spp if planar == 2 else 1)))]))
    if orientation is not None:
        entries.append((274, 3, [orientation]))
    if predictor != 1:
        entries.append((317, 3, [predictor]))
    if colormap:
        entries.append((320, 3, colormap))
    if extra:
        entries.append((338, 3, extra))
    if subsampling:
        entries.append((530, 3, list(subsampling)))
    entries += tags or []
    body = bytearray()
    offsets = []
    base = 8
    for s in strips:
        offsets.append(base + len(body))
        body += s
        if len(body) % 2:
            body += b"\0"
    entries.append((324 if tile else 273, 4, offsets))
    entries.append((325 if tile else 279, 4, [len(s) for s in strips]))
    entries.sort()
    ifd_offset = base + len(body)
    n = len(entries)
    extra_data = bytearray()
    extra_base = ifd_offset + 2 + 12 * n + 4
    ifd = bytearray(struct.pack(e + "H", n))
    for tag, typ, values in entries:
        code = {3: "H", 4: "I", 9: "i", 11: "f"}[typ]
        packed = b"".join(struct.pack(e + code, v) for v in values)
        if len(packed) <= 4:
            field = packed.ljust(4, b"\0")
        else:
            field = struct.pack(e + "I", extra_base + len(extra_data))
            extra_data += packed
        ifd += struct.pack(e + "HHI", tag, typ, len(values)) + field
    next_offset = extra_base + len(extra_data) if second else 0
    ifd += struct.pack(e + "I", next_offset)
    head = (b"MM" if big else b"II") + struct.pack(e + "HI", 42, ifd_offset)
    out = head + bytes(body) + bytes(ifd) + bytes(extra_data)
    if second:
        # A second directory: a 1x1 gray image without strips of its own (it shares the first).
        out += struct.pack(e + "H", 3) + struct.pack(e + "HHI", 256, 4, 1) + struct.pack(e + "I", 1)
        out += struct.pack(e + "HHI", 257, 4, 1) + struct.pack(e + "I", 1)
        out += struct.pack(e + "HHI", 273, 4, 1) + struct.pack(e + "I", 8) + struct.pack(e + "I", 0)
    return out


def first_strip(path):
    """The first strip of a little-endian TIFF as tiffcp writes it."""
    with open(path, "rb") as f:
        data = f.read()
    ifd = struct.unpack_from("<I", data, 4)[0]
    values = {}
    for i in range(struct.unpack_from("<H", data, ifd)[0]):
        tag, typ, count, value = struct.unpack_from("<HHII", data, ifd + 2 + 12 * i)
        size = 4 if typ == 4 else 2
        if size * count > 4:
            value = struct.unpack_from("<I" if typ == 4 else "<H", data, value)[0]
        elif typ == 3:
            value &= 0xFFFF
        values[tag] = value
    return data[values[273]:values[273] + values[279]]


def pattern(n, top=255, seed=0):
    return bytes(((i * 7 + seed * 13) % (top + 1)) for i in range(n))


def seeds():
    w, h = 6, 4
    out = {}
    for big in (False, True):
        bo = "be" if big else "le"
        for comp in (1, 32773, 8):
            out[f"rgb8_{comp}_{bo}"] = tiff(w, h, 8, 3, 2, [pattern(w * 2 * 3), pattern(w * 2 * 3, seed=1)],
                                            big=big, compression=comp)
        out[f"gray16_{bo}"] = tiff(w, h, 16, 1, 1, [pattern(w * h * 2)], big=big)
        out[f"pal4_{bo}"] = tiff(w, h, 4, 1, 3, [pattern(((w * 4 + 7) // 8) * h)], big=big,
                                 colormap=[i * 4000 % 65536 for i in range(48)])
    out["gray1_minwhite"] = tiff(w, h, 1, 1, 0, [pattern(h)])
    out["gray2"] = tiff(w, h, 2, 1, 1, [pattern(2 * h)])
    out["rgba_pred"] = tiff(w, h, 8, 4, 2, [pattern(w * h * 4)], compression=8, predictor=2, extra=[2])
    out["cmyk"] = tiff(w, h, 8, 4, 5, [pattern(w * h * 4)])
    out["lab"] = tiff(w, h, 8, 3, 8, [pattern(w * h * 3)])
    out["ycbcr22"] = tiff(w, h, 8, 3, 6, [pattern(3 * 2 * 6)], subsampling=(2, 2))
    out["planar_rgb"] = tiff(w, h, 8, 3, 2, [pattern(w * h, seed=k) for k in range(3)], planar=2)
    out["two_ifds"] = tiff(w, h, 8, 1, 1, [pattern(w * h)], second=True)
    # Tiled, 20 x 18 pixels in 16 x 16 tiles: the right and bottom tiles are cropped.
    tw, tl, tiles = 16, 16, 4
    out["tiled_gray8"] = tiff(20, 18, 8, 1, 1, [pattern(tw * tl, seed=k) for k in range(tiles)],
                              tile=(tw, tl))
    out["tiled_rgb_deflate_pred_be"] = tiff(
        20, 18, 8, 3, 2, [pattern(tw * tl * 3, seed=k) for k in range(tiles)], big=True,
        compression=8, predictor=2, tile=(tw, tl))
    out["tiled_planar_packbits"] = tiff(
        20, 18, 8, 3, 2, [pattern(tw * tl, seed=k) for k in range(3 * tiles)], compression=32773,
        planar=2, tile=(tw, tl))
    out["tiled_ycbcr22"] = tiff(20, 18, 8, 3, 6, [pattern(8 * 8 * 6, seed=k) for k in range(tiles)],
                                subsampling=(2, 2), tile=(tw, tl))
    out["tiled_pal4"] = tiff(20, 18, 4, 1, 3, [pattern(tw * tl // 2, seed=k) for k in range(tiles)],
                             colormap=[i * 4000 % 65536 for i in range(48)], tile=(tw, tl))
    out["tiled_gray1_orient8"] = tiff(20, 18, 1, 1, 1, [pattern(2 * tl, seed=k) for k in range(tiles)],
                                      tile=(tw, tl), orientation=8)
    out["rgb8_orient6"] = tiff(w, h, 8, 3, 2, [pattern(w * h * 3)], orientation=6)
    out["gray8_orient3_be"] = tiff(w, h, 8, 1, 1, [pattern(w * h)], big=True, orientation=3)
    # 32-bit samples: floating point with a range, signed integers behind the predictor.
    out["float32_gray_range_be"] = tiff(
        w, h, 32, 1, 1, [struct.pack(">24f", *(i / 10 - 0.5 for i in range(24)))], big=True,
        tags=[(339, 3, [3]), (340, 11, [-0.5]), (341, 11, [1.5])])
    out["int32_rgb_pred"] = tiff(w, h, 32, 3, 2, [pattern(w * h * 12)], compression=8,
                                 predictor=2, tags=[(339, 3, [2, 2, 2])])
    return out


def main():
    tiff_dir = os.path.join(HERE, "seeds", "fuzz_tiff")
    eps_dir = os.path.join(HERE, "seeds", "fuzz_eps")
    os.makedirs(tiff_dir, exist_ok=True)
    os.makedirs(eps_dir, exist_ok=True)
    all_seeds = seeds()
    for name, data in all_seeds.items():
        with open(os.path.join(tiff_dir, name + ".tif"), "wb") as f:
            f.write(data)
    # JPEG and fax strips come from libtiff's tiffcp when it is installed.
    if shutil.which("tiffcp"):
        big = os.path.join(tiff_dir, "rgb_16x16.tmp")
        with open(big, "wb") as f:
            f.write(tiff(16, 32, 8, 3, 2, [pattern(16 * 32 * 3)]))
        bits = os.path.join(tiff_dir, "bits_16x16.tmp")
        with open(bits, "wb") as f:
            f.write(tiff(16, 16, 1, 1, 0, [pattern(2 * 16)]))
        gray16 = os.path.join(tiff_dir, "gray16.tmp")
        with open(gray16, "wb") as f:
            f.write(tiff(12, 8, 16, 1, 1, [pattern(12 * 8 * 2)]))
        for name, args, src in (("jpeg", ["-c", "jpeg", "-r", "16"], big),
                                ("fax3", ["-c", "g3", "-f", "lsb2msb"], bits),
                                ("tiled_jpeg", ["-c", "jpeg", "-t", "-w", "16", "-l", "16"], big),
                                ("tiled_zip2", ["-c", "zip:2", "-t", "-w", "16", "-l", "16"], big),
                                ("tiled_fax3", ["-c", "g3", "-t", "-w", "16", "-l", "16"], bits),
                                ("tiled_lzw", ["-c", "lzw:2", "-t", "-w", "16", "-l", "16"], big),
                                ("fax3_2d", ["-c", "g3:2d:fill"], bits),
                                ("fax4", ["-c", "g4", "-r", "8"], bits),
                                ("fax4_lsb", ["-c", "g4", "-f", "lsb2msb"], bits),
                                ("lzw", ["-c", "lzw", "-r", "16"], big),
                                ("lzw_pred", ["-c", "lzw:2", "-r", "8"], big),
                                ("lzw_gray16_pred", ["-c", "lzw:2"], gray16)):
            subprocess.run(["tiffcp"] + args + [src, os.path.join(tiff_dir, name + ".tif")],
                           check=True)
        # Decoder harness seeds: kind byte (14 LZW, 15 Group 4), parameter byte, strip.
        decoder_dir = os.path.join(HERE, "seeds", "fuzz_decoders")
        os.makedirs(decoder_dir, exist_ok=True)
        for name, head, tif in (("lzw", bytes([14, 0]), "lzw"),
                                ("lzw_pred", bytes([14, 200]), "lzw_pred"),
                                ("fax4", bytes([15, 1]), "fax4")):
            with open(os.path.join(decoder_dir, name), "wb") as f:
                f.write(head + first_strip(os.path.join(tiff_dir, tif + ".tif")))
        os.remove(gray16)
        os.remove(big)
        os.remove(bits)
    postscript = b"%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 6 4\nshowpage\n"
    for name in ("rgb8_1_le", "pal4_be", "gray1_minwhite"):
        preview = all_seeds[name]
        header = struct.pack("<IIIIIIIH", 0xC6D3D0C5, 30, len(postscript), 0, 0,
                             30 + len(postscript), len(preview), 0xFFFF)
        with open(os.path.join(eps_dir, name + ".eps"), "wb") as f:
            f.write(header + postscript + preview)


if __name__ == "__main__":
    main()

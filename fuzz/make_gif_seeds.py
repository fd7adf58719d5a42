#!/usr/bin/env python3
"""Writes the GIF fuzzer's seed files: small GIFs built here from our own pixels with a plain LZW
coder, covering global and local colour maps, no map, interlacing, a transparent index, a frame
off the screen's origin, comments and a second frame. Run from anywhere: fuzz/make_gif_seeds.py."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def lzw(indices, min_size):
    """GIF LZW data (sub-blocked) for the indices."""
    clear, end = 1 << min_size, (1 << min_size) + 1
    size, next_code, table = min_size + 1, end + 1, {}
    bits, nbits, out = 0, 0, bytearray()

    def emit(code):
        nonlocal bits, nbits
        bits |= code << nbits
        nbits += size
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8

    emit(clear)
    prefix = None
    for v in indices:
        if prefix is None:
            prefix = (v,)
            continue
        word = prefix + (v,)
        if word in table or len(word) == 1:
            prefix = word
            continue
        emit(table[prefix] if len(prefix) > 1 else prefix[0])
        if next_code < 4096:
            table[word] = next_code
            next_code += 1
            if next_code > (1 << size) and size < 12:
                size += 1
        else:
            emit(clear)
            size, next_code, table = min_size + 1, end + 1, {}
        prefix = (v,)
    if prefix is not None:
        emit(table[prefix] if len(prefix) > 1 else prefix[0])
    emit(end)
    if nbits:
        out.append(bits & 0xFF)
    blocks = bytearray([min_size])
    for i in range(0, len(out), 255):
        blocks += bytes([len(out[i:i + 255])]) + out[i:i + 255]
    return bytes(blocks + b"\0")


def colour_map(bits, shift):
    n = 1 << bits
    return b"".join(bytes([(i * 37 + shift) & 255, (i * 91) & 255, (i * 53 + shift) & 255])
                    for i in range(n))


def frame(w, h, bits, left=0, top=0, interlaced=False, local=None):
    rows = [[(x * 3 + y * 5) % (1 << bits) for x in range(w)] for y in range(h)]
    order = list(range(h))
    if interlaced:
        order = (list(range(0, h, 8)) + list(range(4, h, 8)) + list(range(2, h, 4)) +
                 list(range(1, h, 2)))
    flags = (0x40 if interlaced else 0) | ((0x80 | (bits - 1)) if local else 0)
    data = b"," + struct.pack("<4HB", left, top, w, h, flags) + (local or b"")
    return data + lzw([v for y in order for v in rows[y]], max(bits, 2))


def gif(w, h, bits, frames, global_map=True, extensions=b"", background=0):
    flags = (0x80 | 0x70 | (bits - 1)) if global_map else 0x70
    head = b"GIF89a" + struct.pack("<2H3B", w, h, flags, background, 0)
    return head + (colour_map(bits, 0) if global_map else b"") + extensions + b"".join(
        frames) + b";"


def gce(index):
    return b"!\xf9\x04" + bytes([1]) + b"\0\0" + bytes([index]) + b"\0"


SEEDS = {
    "plain.gif": gif(16, 9, 4, [frame(16, 9, 4)]),
    "two_colours.gif": gif(13, 5, 1, [frame(13, 5, 1)]),
    "local_map.gif": gif(12, 8, 3, [frame(12, 8, 3, local=colour_map(3, 99))]),
    "no_map.gif": gif(10, 6, 2, [frame(10, 6, 2)], global_map=False),
    "interlaced.gif": gif(11, 19, 4, [frame(11, 19, 4, interlaced=True)]),
    "transparent.gif": gif(9, 9, 3, [frame(9, 9, 3)], extensions=gce(5)),
    "offset.gif": gif(24, 20, 4, [frame(10, 7, 4, left=6, top=9)], background=3),
    "comment_two_frames.gif": gif(8, 8, 8, [frame(8, 8, 8), frame(4, 4, 8, 2, 2)],
                                  extensions=b"!\xfe\x05hello\0"),
    "wide_codes.gif": gif(90, 60, 8, [frame(90, 60, 8)]),
}


def main():
    out = os.path.join(HERE, "seeds", "fuzz_gif")
    os.makedirs(out, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()

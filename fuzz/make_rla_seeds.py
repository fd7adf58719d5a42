#!/usr/bin/env python3
"""Writes the RLA fuzzer's seed files: small files built here from our own pixels, bottom-up
and top-down, with and without a matte channel, 8 and 16 bits, with and without gamma, and one
"xyz" file. The same files, prefixed with the class byte 8 (the RLA class in registration order),
seed the registry fuzzer. Run from anywhere: fuzz/make_rla_seeds.py."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
REGISTRY_CLASS = 8


def encode(raw):
    out, i = b"", 0
    while i < len(raw):
        run = 1
        while i + run < len(raw) and raw[i + run] == raw[i] and run < 128:
            run += 1
        if run >= 2:
            out += bytes([run - 1, raw[i]])
            i += run
            continue
        n = 0
        while i + n < len(raw) and n < 128 and not (i + n + 1 < len(raw) and
                                                   raw[i + n] == raw[i + n + 1]):
            n += 1
        out += bytes([256 - n]) + raw[i:i + n]
        i += n
    return out


def rla(width, height, matte=0, bottom_up=True, bits=8, gamma=b"1.0", kind=b"rgb"):
    header = bytearray(740)
    bottom, top = (0, height - 1) if bottom_up else (height - 1, 0)
    for at in (0, 8):
        struct.pack_into(">hhhh", header, at, 0, width - 1, bottom, top)
    struct.pack_into(">hhhhhH", header, 16, 1, 0, 3, matte, 0, 0xFFFE)
    header[28:28 + len(gamma)] = gamma
    header[580:580 + len(kind)] = kind
    struct.pack_into(">hh", header, 658, bits, 0)
    struct.pack_into(">h", header, 662, bits)
    top_value = (1 << bits) - 1
    records = []
    for i in range(height):
        y = height - 1 - i if bottom_up else i
        record = b""
        for c in range(3 + (1 if matte else 0)):
            values = [((c * 60 + y * 9) if x < width // 3 else (x * 37 + y * 11 + c * 71))
                      % (top_value + 1) for x in range(width)]
            if bits <= 8:
                raw = bytes(values)
            else:
                raw = bytes(v >> 8 for v in values) + bytes(v & 255 for v in values)
            packed = encode(raw)
            record += struct.pack(">H", len(packed)) + packed
        records.append(record)
    offsets, at = b"", 740 + 4 * height
    for r in records:
        offsets += struct.pack(">I", at)
        at += len(r)
    return bytes(header) + offsets + b"".join(records)


def main():
    seeds = {
        "rgb.rla": rla(9, 4),
        "matte.rla": rla(7, 3, matte=1),
        "topdown.rla": rla(6, 3, bottom_up=False),
        "deep.rla": rla(5, 2, bits=16, matte=1),
        "gamma.rpf": rla(8, 2, gamma=b"2.2"),
        "xyz.rla": rla(3, 2, kind=b"xyz"),
    }
    folder = os.path.join(HERE, "seeds", "fuzz_rla")
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

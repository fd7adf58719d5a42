#!/usr/bin/env python3
"""Writes a log of SIZE_MB MiB for the text benchmarks: timestamped lines of a few words, one in
EVERY of them ending in the word xyzzy (a block of 12,000 lines, about 1 MiB, repeated).

Usage: make_log.py FILE SIZE_MB EVERY"""
import random
import sys

path, size_mb, every = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
random.seed(1)
words = "alpha beta gamma delta request served cache miss user session timeout retry".split()
lines = []
for i in range(12000):
    level = random.choice(["INFO", "INFO", "INFO", "DEBUG", "WARN", "ERROR"])
    text = " ".join(random.choice(words) for _ in range(random.randint(3, 14)))
    if i % every == 0:
        text += " xyzzy"
    lines.append("2026-12-08 12:%02d:%02d.%03d [%s] worker-%d %s\n"
                 % (i // 60 % 60, i % 60, i % 1000, level, i % 16, text))
block = "".join(lines).encode()
want = size_mb << 20
with open(path, "wb") as f:
    written = 0
    while written < want:
        f.write(block)
        written += len(block)

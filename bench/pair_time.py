#!/usr/bin/env python3
"""Times commands against each other, taking them in turns so that all see the same load.

    pair_time.py RUNS -- OURS... -- PEER... [-- PEER...]

Prints one line per command, in the order given: "cpu_ms wall_ms peak_kib", the medians of the
processor time (user + system) and of the wall time of RUNS runs each, and the largest peak
resident size seen. Standard output of every command goes to /dev/null; needs GNU time (Debian:
time); a command that fails ends with status 1.
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time


def run(command, peak_file):
    # GNU time reports the peak of the command alone (a child forked from this interpreter
    # would count the interpreter's size); the processor time comes from wait4, which includes
    # the command and is finer than GNU time's hundredths.
    with open(os.devnull, "wb") as null:
        start = time.perf_counter()
        process = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", peak_file] + command,
                                   stdout=null, stderr=subprocess.PIPE)
        err = process.stderr.read()
        process.stderr.close()
        _, status, usage = os.wait4(process.pid, 0)
        wall = (time.perf_counter() - start) * 1000.0
    if os.waitstatus_to_exitcode(status) != 0:
        sys.stderr.write("failed: %s\n%s" % (" ".join(command), err.decode(errors="replace")))
        sys.exit(1)
    with open(peak_file) as f:
        peak = int(f.read().split()[-1])
    return (usage.ru_utime + usage.ru_stime) * 1000.0, wall, peak


def split_commands(args):
    commands, current = [], None
    for arg in args:
        if arg == "--":
            current = []
            commands.append(current)
        elif current is not None:
            current.append(arg)
    return [c for c in commands if c]


def main():
    runs = int(sys.argv[1])
    commands = split_commands(sys.argv[2:])
    if len(commands) < 2:
        sys.exit("usage: pair_time.py RUNS -- OURS... -- PEER... [-- PEER...]")
    cpu = [[] for _ in commands]
    wall = [[] for _ in commands]
    peaks = [0] * len(commands)
    peak_file = tempfile.mkstemp()[1]
    for _ in range(runs):
        for side, command in enumerate(commands):
            c, w, peak = run(command, peak_file)
            cpu[side].append(c)
            wall[side].append(w)
            peaks[side] = max(peaks[side], peak)
    os.unlink(peak_file)
    for side in range(len(commands)):
        print("%.1f %.1f %d" % (statistics.median(cpu[side]), statistics.median(wall[side]),
                                peaks[side]))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Times two commands against each other, alternating their runs so that both see the same load.

    pair_time.py RUNS -- OURS... -- THEIRS...

Prints one line: "ours_ms theirs_ms ratio ours_peak_kib theirs_peak_kib", the medians of the
processor time (user + system) of RUNS runs each, their ratio, and the largest peak resident
size seen. Standard output of both goes to /dev/null; needs GNU time (Debian: time); a command that fails ends with status 1.
"""
import os
import statistics
import subprocess
import sys
import tempfile


def run(command, peak_file):
    # GNU time reports the peak of the command alone (a child forked from this interpreter
    # would count the interpreter's size); the processor time comes from wait4, which includes
    # the command and is finer than GNU time's hundredths.
    with open(os.devnull, "wb") as null:
        process = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", peak_file] + command,
                                   stdout=null, stderr=subprocess.PIPE)
        err = process.stderr.read()
        process.stderr.close()
        _, status, usage = os.wait4(process.pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        sys.stderr.write("failed: %s\n%s" % (" ".join(command), err.decode(errors="replace")))
        sys.exit(1)
    with open(peak_file) as f:
        peak = int(f.read().split()[-1])
    return (usage.ru_utime + usage.ru_stime) * 1000.0, peak


def main():
    args = sys.argv[1:]
    runs = int(args[0])
    rest = args[2:]
    split = rest.index("--")
    ours, theirs = rest[:split], rest[split + 1:]
    times = ([], [])
    peaks = [0, 0]
    peak_file = tempfile.mkstemp()[1]
    for _ in range(runs):
        for side, command in enumerate((ours, theirs)):
            ms, peak = run(command, peak_file)
            times[side].append(ms)
            peaks[side] = max(peaks[side], peak)
    os.unlink(peak_file)
    a, b = statistics.median(times[0]), statistics.median(times[1])
    print("%.0f %.0f %.2f %d %d" % (a, b, a / b if b > 0 else 0.0, peaks[0], peaks[1]))


if __name__ == "__main__":
    main()

#!/bin/sh
# The text view on a 1.5 GB log (made in a temporary folder, removed after): first screen, scroll
# to the end, peak memory, and the count of a word next to `grep -c` on the same file, both read
# from the page cache, paired run by run.
#
# Usage: bench/text_vs_grep.sh [bench_gui_text] (RUNS=3 by default; SIZE_MB=1536)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
bench=${1:-$root/build/bench/bench_gui_text}
runs=${RUNS:-3}
size_mb=${SIZE_MB:-1536}
[ -x "$bench" ] || { echo "bench_gui_text not found: $bench" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
log=$work/big.log
python3 - "$log" "$size_mb" <<'PY'
import random, sys
random.seed(1)
words = "alpha beta gamma delta request served cache miss user session timeout retry".split()
lines = []
for i in range(12000):
    level = random.choice(["INFO", "INFO", "INFO", "DEBUG", "WARN", "ERROR"])
    text = " ".join(random.choice(words) for _ in range(random.randint(3, 14)))
    if i % 997 == 0:
        text += " xyzzy"
    lines.append("2026-12-08 12:%02d:%02d.%03d [%s] worker-%d %s\n"
                 % (i // 60 % 60, i % 60, i % 1000, level, i % 16, text))
block = "".join(lines).encode()
want = int(sys.argv[2]) << 20
with open(sys.argv[1], "wb") as f:
    written = 0
    while written < want:
        f.write(block)
        written += len(block)
PY
cat "$log" > /dev/null
echo "file: $(du -h "$log" | cut -f1); CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2)"
i=0
while [ $i -lt "$runs" ]; do
    i=$((i + 1))
    echo "--- run $i"
    start=$(date +%s%N)
    n=$(grep -c xyzzy "$log")
    end=$(date +%s%N)
    echo "grep_c_ms $(( (end - start) / 1000000 )) lines $n"
    "$bench" "$log" xyzzy
done

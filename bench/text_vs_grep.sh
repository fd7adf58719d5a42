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
python3 "$root/bench/make_log.py" "$log" "$size_mb" 997
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

#!/bin/sh
# The text view on a 1.5 GB log (made in a temporary folder, removed after): first screen, scroll
# to the end, peak memory, and the count of a word next to `grep -c` on the same file, both read
# from the page cache, paired run by run.
#
# Usage: bench/text_vs_grep.sh [bench_gui_text] (RUNS=3 by default; SIZE_MB=1536)
set -eu
. "$(dirname "$0")/common.sh"
log_bench_init bench_gui_text 997 "${1:-}"
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

#!/bin/sh
# The list of matching lines on a 1.5 GB log (made in a temporary folder, removed after) next to
# `grep -n` on the same file, both read from the page cache, paired run by run: the list complete,
# its first rows, the longest stall of the window, peak memory, and going to line 15,000,000
# while the line index is built and once it is complete.
#
# grep writes to a file: with its output on /dev/null it stops at the first match.
#
# Usage: bench/filter_vs_grep.sh [bench_gui_filter] (RUNS=3 by default; SIZE_MB=1536)
set -eu
. "$(dirname "$0")/common.sh"
# About 100,000 lines with the word in 1.5 GB (one line in 170).
log_bench_init bench_gui_filter 170 "${1:-}"
i=0
while [ $i -lt "$runs" ]; do
    i=$((i + 1))
    echo "--- run $i"
    /usr/bin/time -f "grep_n_s %e (user %U, sys %S) lines" grep -n xyzzy "$log" > "$work/grep.out"
    wc -l < "$work/grep.out"
    /usr/bin/time -f "bench_s %e (user %U, sys %S)" "$bench" "$log" xyzzy
done

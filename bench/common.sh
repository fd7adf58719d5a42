# Shared by the benchmark scripts (sourced, POSIX sh).
#
# bench_init DEFAULT_WIDTH DEFAULT_HEIGHT [VELKARO_DECODE [WIDTH HEIGHT]]: sets root (the
# checkout), decode (velkaro-decode, build/tools/ by default), width, height, runs ($RUNS, 5 by
# default) and work, a temporary folder removed when the script ends.
bench_init() {
    root=$(cd "$(dirname "$0")/.." && pwd)
    decode=${3:-$root/build/tools/velkaro-decode}
    width=${4:-$1}
    height=${5:-$2}
    runs=${RUNS:-5}
    [ -x "$decode" ] || { echo "velkaro-decode not found: $decode" >&2; exit 2; }
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
}

# cpu_ms CMD...: the processor time (user + system) of one run of CMD in whole milliseconds,
# measured on the child alone (wait4), so the measuring costs nothing. Output goes nowhere.
cpu_ms() {
    python3 -c '
import os, shutil, sys
devnull = os.open(os.devnull, os.O_WRONLY)
actions = [(os.POSIX_SPAWN_DUP2, devnull, 1)]
pid = os.posix_spawn(shutil.which(sys.argv[1]) or sys.argv[1], sys.argv[1:], os.environ,
                     file_actions=actions)
_, status, ru = os.wait4(pid, 0)
if status != 0:
    sys.exit("failed: " + " ".join(sys.argv[1:]))
print("%.0f" % ((ru.ru_utime + ru.ru_stime) * 1000))' "$@"
}

# best_ms CMD...: the least processor time of $runs runs of CMD, in milliseconds.
best_ms() {
    best=
    i=0
    while [ $i -lt "$runs" ]; do
        t=$(cpu_ms "$@")
        if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
        i=$((i + 1))
    done
    echo "$best"
}

# make_photo [OPTIONS]: writes the photo-like test picture of width x height into $work
# (rgb.ppm by default; see bench/make_photo.py for the options).
make_photo() {
    python3 "$root/bench/make_photo.py" "$work" "$width" "$height" "$@"
}

# log_bench_init BENCH_NAME EVERY [BENCH]: for the text benchmarks, sets root, bench (BENCH, or
# build/bench/BENCH_NAME), runs ($RUNS, 3 by default), work (removed when the script ends) and log,
# a log of $SIZE_MB MiB (1536 by default) made by make_log.py with the word in one line in EVERY,
# read into the page cache; prints its size and the CPU model.
log_bench_init() {
    root=$(cd "$(dirname "$0")/.." && pwd)
    bench=${3:-$root/build/bench/$1}
    runs=${RUNS:-3}
    [ -x "$bench" ] || { echo "$1 not found: $bench" >&2; exit 2; }
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    log=$work/big.log
    python3 "$root/bench/make_log.py" "$log" "${SIZE_MB:-1536}" "$2"
    cat "$log" > /dev/null
    echo "file: $(du -h "$log" | cut -f1); CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2)"
}

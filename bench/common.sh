# Shared by the decode benchmarks (sourced, POSIX sh).
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

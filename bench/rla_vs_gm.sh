#!/bin/sh
# Times velkaro-decode on large RLA files (8-bit RGB, and RGB with a matte channel) against
# GraphicsMagick's gm convert writing the same 8-bit PAM, and compares the pixels. The files are
# written by fuzz/make_rla_seeds.py's writer from generated pixels; each figure is the best of
# several runs (processor time). Run by hand; there is no target ratio.
#
#   bench/rla_vs_gm.sh [VELKARO_DECODE] [WIDTH HEIGHT]
#
# Needs python3 and gm (Debian: graphicsmagick).
set -eu
. "$(dirname "$0")/common.sh"
bench_init 2000 1500 "$@"

python3 - "$root/fuzz" "$work" "$width" "$height" <<'PY'
import sys
sys.path.insert(0, sys.argv[1])
import make_rla_seeds as m
folder, w, h = sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
with open(folder + "/rgb.rla", "wb") as f:
    f.write(m.rla(w, h))
with open(folder + "/matte.rla", "wb") as f:
    f.write(m.rla(w, h, matte=1))
PY

status=0
for kind in rgb matte; do
    file="$work/$kind.rla"
    ours=$(best_ms "$decode" "$file" -o "$work/out.pam")
    theirs=$(best_ms gm convert "$file" -depth 8 "pam:$work/ref.pam")
    channels=3
    [ "$kind" = matte ] && channels=4
    n=$((width * height * channels))
    tail -c $n "$work/out.pam" > "$work/a"
    tail -c $n "$work/ref.pam" > "$work/b"
    if ! cmp -s "$work/a" "$work/b"; then
        echo "$kind: pixels differ from GraphicsMagick" >&2
        status=1
    fi
    ratio=$(awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "%.2f", a / b }')
    echo "$kind ${width}x${height}: velkaro-decode ${ours} ms, gm convert ${theirs} ms, ratio ${ratio}"
done
exit $status

#!/bin/sh
# Times velkaro-decode on a large binary pixel map (P6) against netpbm's pamtopnm and ppmtoppm
# reading the same file, each writing the pixels out again (velkaro-decode a PAM, netpbm a
# PPM: the same samples). The runs are paired: each round times all three once, and each
# figure is the best of the rounds (processor time). The pixels are compared too.
# Target: velkaro-decode at most 0.8x the time of pamtopnm; the ratio to ppmtoppm (netpbm's
# leaner pixel-map copier) is shown as well.
#
#   bench/ppm_vs_pamtopnm.sh [VELKARO_DECODE] [WIDTH HEIGHT]
#
# Needs python3 and pamtopnm/ppmtoppm (Debian: netpbm).
set -eu
. "$(dirname "$0")/common.sh"
bench_init 4000 3000 "$@"

# Photo-like pixels: every row a shifted slice of a long pseudo-random walk, tinted by its
# height.
make_photo --tint --comment

min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b + 0 < a + 0) ? b : a }'; }

ours= pam= ppm=
i=0
while [ $i -lt "$runs" ]; do
    ours=$(min "$ours" "$(cpu_ms "$decode" "$work/rgb.ppm" -o "$work/out.pam")")
    pam=$(min "$pam" "$(cpu_ms sh -c 'pamtopnm < "$1" > "$2"' sh "$work/rgb.ppm" "$work/ref1.ppm")")
    ppm=$(min "$ppm" "$(cpu_ms sh -c 'ppmtoppm < "$1" > "$2"' sh "$work/rgb.ppm" "$work/ref2.ppm")")
    i=$((i + 1))
done

status=0
n=$((width * height * 3))
tail -c $n "$work/out.pam" > "$work/a"
for ref in ref1 ref2; do
    tail -c $n "$work/$ref.ppm" > "$work/b"
    if ! cmp -s "$work/a" "$work/b"; then
        echo "pixels differ from netpbm ($ref)" >&2
        status=1
    fi
done
ratio=$(awk -v a="$ours" -v b="$pam" 'BEGIN { printf "%.2f", a / b }')
ratio2=$(awk -v a="$ours" -v b="$ppm" 'BEGIN { printf "%.2f", a / b }')
echo "P6 ${width}x${height}: velkaro-decode ${ours} ms, pamtopnm ${pam} ms (ratio ${ratio}), ppmtoppm ${ppm} ms (ratio ${ratio2}); best of $runs paired rounds"
if awk -v r="$ratio" 'BEGIN { exit !(r > 0.8) }'; then status=1; fi
exit $status

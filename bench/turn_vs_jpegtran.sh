#!/bin/sh
# Saving a lossless quarter turn of a 12-megapixel JPEG photo (4032 x 3024, 4:2:0, EXIF block)
# with velkaro-convert against jpegtran -rotate 90 -perfect -copy all of the same libjpeg-turbo.
# Each figure is the least processor time of several runs. velkaro-convert also writes beside the
# target, flushes and decodes the written file once before renaming it; jpegtran only writes.
# Both outputs must decode to the same pixels. Target: a ratio of at most 1.1.
#
#   bench/turn_vs_jpegtran.sh [VELKARO_CONVERT]
#
# Needs ImageMagick's convert, cjpeg, djpeg and jpegtran (libjpeg-turbo-progs).
set -eu
. "$(dirname "$0")/common.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
convert_tool=${1:-$root/build/tools/velkaro-convert}
runs=${RUNS:-7}
[ -x "$convert_tool" ] || { echo "velkaro-convert not found: $convert_tool" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

convert -size 4032x3024 gradient:'#3060a0-#e0c080' -attenuate 0.6 +noise Gaussian \
    "$work/photo.ppm"
cjpeg -quality 90 -outfile "$work/plain.jpg" "$work/photo.ppm"
rm "$work/photo.ppm"
# A camera's EXIF block (orientation 1) in front, as photos carry.
printf '\377\330\377\341\000\042Exif\000\000MM\000\052\000\000\000\010\000\001\001\022\000\003\000\000\000\001\000\001\000\000\000\000\000\000' \
    > "$work/in.jpg"
tail -c +3 "$work/plain.jpg" >> "$work/in.jpg"

grep -m1 'model name' /proc/cpuinfo | sed 's/.*: /CPU: /'
echo "cores: $(nproc), load: $(cut -d' ' -f1-3 /proc/loadavg)"
ours=$(best_ms "$convert_tool" "$work/in.jpg" "$work/ours.jpg" --rotate 90)
theirs=$(best_ms jpegtran -rotate 90 -perfect -copy all -outfile "$work/theirs.jpg" "$work/in.jpg")
status=0
if ! djpeg "$work/ours.jpg" | cmp -s - "$(djpeg "$work/theirs.jpg" > "$work/theirs.ppm"; echo "$work/theirs.ppm")"; then
    echo "pixels differ from jpegtran" >&2
    status=1
fi
ratio=$(awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "%.2f", a / b }')
echo "quarter turn 4032x3024: velkaro-convert ${ours} ms, jpegtran ${theirs} ms, ratio ${ratio}"
if awk -v r="$ratio" 'BEGIN { exit !(r > 1.10) }'; then status=1; fi
exit $status

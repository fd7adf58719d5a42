#!/bin/sh
# Times velkaro-thumbnailer against the desktop's gdk-pixbuf-thumbnailer and vipsthumbnail, one
# run per file as a file manager runs them, on the formats all three read: a 4000 x 3000
# photo-like picture as baseline and progressive JPEG, PNG, TIFF, GIF and WebP, each made
# into a 256-pixel thumbnail. The three take turns (bench/pair_time.py); each figure is the
# median of the runs: processor time, wall time, peak resident size. Also djpeg -scale 1/8 on
# the baseline JPEG, the least any of them can do there.
#
#   bench/thumbnailer_vs_peers.sh [VELKARO_THUMBNAILER]      RUNS=N (default 5)
#
# Needs python3, cjpeg and djpeg (libjpeg-turbo-progs), ImageMagick's convert, cwebp (webp),
# gdk-pixbuf-thumbnailer (libgdk-pixbuf2.0-bin) and vipsthumbnail (libvips-tools), GNU time.
set -eu
. "$(dirname "$0")/common.sh"
bench_init 4000 3000 "$(dirname "$0")/../build/tools/velkaro-decode"
thumbnailer=${1:-$root/build/tools/velkaro-thumbnailer}
[ -x "$thumbnailer" ] || { echo "velkaro-thumbnailer not found: $thumbnailer" >&2; exit 2; }
make_photo --tint
cd "$work"
cjpeg -quality 90 -outfile baseline.jpg rgb.ppm
cjpeg -quality 90 -progressive -outfile progressive.jpg rgb.ppm
convert rgb.ppm png:photo.png
convert rgb.ppm -compress lzw tiff:photo.tiff
convert rgb.ppm gif:photo.gif
cwebp -quiet -q 80 rgb.ppm -o photo.webp 2>/dev/null || convert rgb.ppm webp:photo.webp

echo "CPU: $(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -n 1), $(nproc) cores"
echo "256-pixel thumbnail of a 4000 x 3000 picture, medians of $runs runs: processor ms, wall ms, peak KiB"
printf '%-16s %-26s %-26s %-26s\n' file velkaro-thumbnailer gdk-pixbuf-thumbnailer vipsthumbnail
for file in baseline.jpg progressive.jpg photo.png photo.tiff photo.gif photo.webp; do
    # gdk-pixbuf reads WebP only with an extra loader: without it that column stays empty.
    if gdk-pixbuf-thumbnailer -s 256 "$file" g.png 2>/dev/null; then
        set -- -- gdk-pixbuf-thumbnailer -s 256 "$file" g.png
    else
        set --
    fi
    python3 "$root/bench/pair_time.py" "$runs" -- "$thumbnailer" -s 256 "$file" v.png "$@" \
        -- vipsthumbnail "$file" -s 256 -o x.png >times
    printf '%-16s' "$file"
    while read -r cpu wall peak; do
        printf ' %-26s' "$cpu $wall $peak"
        if [ $# -eq 0 ]; then printf ' %-26s' "-"; set -- -; fi
    done <times
    echo
done
python3 "$root/bench/pair_time.py" "$runs" -- "$thumbnailer" -s 256 baseline.jpg v.png \
    -- djpeg -scale 1/8 -outfile d.ppm baseline.jpg >times
echo "baseline.jpg beside djpeg -scale 1/8 (velkaro-thumbnailer, then djpeg):"
cat times

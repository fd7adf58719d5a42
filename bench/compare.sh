#!/bin/sh
# Times velkaro-decode against the usual readers of each format on large pictures and prints a
# table: the median processor time (user + system) and wall time of RUNS runs each, taken in
# turns so that all see the same load, the ratio against the fastest peer (below 1 is faster),
# the fixed cost of each process (the same command on a 16 x 16 picture) and the ratio without
# it, the peak resident memory, and whether ours kept within twice the bitmap plus the file
# plus 32 MiB.
# Both write their PAM or PNM output to /dev/null. A format that velkaro-decode cannot read
# (yet) is skipped. Then, when the GUI benchmarks are built, the time from opening a picture to
# its first paint, and the file list of a 20,000-file folder next to `ls -l`.
#
#   bench/compare.sh [BUILD_DIR]          (default: build; RUNS=5, WIDTH=4000, HEIGHT=3000)
#   ONLY='PNG*,PPM' GUI=0 bench/compare.sh   (only rows whose work matches, no reader part)
#
# Inputs and peer programs are made once in $BENCH_CACHE (default /tmp/velkaro-bench-WxH).
# Needs: cc, python3, GNU time, ImageMagick's convert, libjpeg-turbo-progs (cjpeg, djpeg),
# netpbm, libtiff-tools, libpng-dev, libstb-dev, libspng-dev, libturbojpeg0-dev and libqoi-dev with
# qoi (see scripts/setup).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
decode=$build/tools/velkaro-decode
runs=${RUNS:-5}
width=${WIDTH:-4000}
height=${HEIGHT:-3000}
only=${ONLY:-*}
cache=${BENCH_CACHE:-${TMPDIR:-/tmp}/velkaro-bench-${width}x$height}
[ -x "$decode" ] || { echo "velkaro-decode not found: $decode" >&2; exit 2; }
mkdir -p "$cache"

# ---- peers ----
cc -O2 -o "$cache/png_simplified" "$root/bench/peers/png_simplified.c" -lpng
cc -O2 -o "$cache/png_rows" "$root/bench/peers/png_rows.c" -lpng
cc -O2 -o "$cache/stb_decode" "$root/bench/peers/stb_decode.c" -lm
# libspng and TurboJPEG are optional peers: without their headers their rows leave them out.
cc -O2 -o "$cache/spng_decode" "$root/bench/peers/spng_decode.c" -lspng 2>/dev/null ||
    rm -f "$cache/spng_decode"
cc -O2 -o "$cache/tj_decode" "$root/bench/peers/tj_decode.c" -lturbojpeg 2>/dev/null ||
    rm -f "$cache/tj_decode"
cc -O2 -o "$cache/qoi_decode" "$root/bench/peers/qoi_decode.c" 2>/dev/null ||
    rm -f "$cache/qoi_decode"

# ---- inputs, made once ----
# A photo-like picture: a plasma fractal, slightly blurred, with sensor-like noise. Every input
# is made twice: at full size, and at 16 x 16 in tiny/, whose decode is the fixed cost of a
# process (start-up, libraries, registration) that the large picture's time also holds.
make_input() {  # NAME COMMAND...: runs the command unless ./NAME exists
    name=$1
    shift
    [ -s "$name" ] && return 0
    "$@" >/dev/null 2>&1 || rm -f "$name"
}
plain="-define png:exclude-chunk=all"
make_inputs() {  # WIDTH HEIGHT: all inputs in the current folder
    make_input photo.ppm convert -size "${1}x$2" -seed 7 plasma:fractal -blur 0x1 \
        -attenuate 0.3 +noise Gaussian -depth 8 photo.ppm
    make_input baseline444.jpg cjpeg -quality 90 -sample 1x1 -outfile baseline444.jpg photo.ppm
    make_input progressive.jpg cjpeg -quality 90 -progressive -outfile progressive.jpg photo.ppm
    make_input rgb8.png convert photo.ppm $plain PNG24:rgb8.png
    make_input rgba8.png convert photo.ppm \( +clone -channel R -separate -blur 0x8 \) \
        -alpha off -compose CopyOpacity -composite $plain PNG32:rgba8.png
    make_input palette.png convert photo.ppm $plain -colors 256 +dither PNG8:palette.png
    make_input rgb16.png convert photo.ppm $plain -depth 16 PNG48:rgb16.png
    make_input interlaced.png convert photo.ppm $plain -interlace PNG PNG24:interlaced.png
    make_input rgb24.bmp convert photo.ppm BMP3:rgb24.bmp
    make_input plain.tif convert photo.ppm -compress none TIFF:plain.tif
    make_input lzw.tif convert photo.ppm -compress lzw TIFF:lzw.tif
    make_input rgb24.pcx convert photo.ppm PCX:rgb24.pcx
    make_input rgb.sgi convert photo.ppm SGI:rgb.sgi
    make_input rgb24.tga convert photo.ppm TGA:rgb24.tga
    make_input rgb.psd convert photo.ppm PSD:rgb.psd
    make_input photo.gif convert photo.ppm +dither -colors 256 GIF:photo.gif
    make_input lossy.webp convert photo.ppm -quality 90 WEBP:lossy.webp
    make_input lossless.webp convert photo.ppm -define webp:lossless=true WEBP:lossless.webp
    # A 16 x 16 picture holds three resolution levels at most (OpenJPEG's default is six).
    levels=6
    [ "$1" -ge 64 ] && [ "$2" -ge 64 ] || levels=3
    make_input lossy.jp2 opj_compress -i photo.ppm -o lossy.jp2 -r 20 -n $levels
    make_input lossless.jxl cjxl photo.ppm lossless.jxl -d 0 -e 3
    make_input lossy.jxl cjxl photo.ppm lossy.jxl -d 1 -e 7
    make_input photo.heic heif-enc -q 90 rgb8.png -o photo.heic
    make_input photo.avif avifenc -s 8 rgb8.png photo.avif
    make_input drawing.svg python3 "$root/bench/make_drawing.py" drawing.svg "$1" "$2"
    make_input rgb8.qoi qoiconv rgb8.png rgb8.qoi
    make_input rgba8.qoi qoiconv rgba8.png rgba8.qoi
}
cd "$cache"
make_inputs "$width" "$height"
mkdir -p tiny
(cd tiny && make_inputs 16 16)

# ---- the table ----
mib() { awk -v k="$1" 'BEGIN { printf "%.0f", k / 1024 }'; }
ms() { awk -v v="$1" 'BEGIN { printf "%.0f", v }'; }
pixels=$((width * height))
echo "Machine: $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1)," \
    "$(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo), Linux $(uname -r);" \
    "load average $(cut -d' ' -f1-3 /proc/loadavg) before the table."
echo "Pictures ${width} x ${height}, output to /dev/null, medians of $runs runs taken in turns."
echo "Processor time is user + system; the ratio is ours over the fastest peer (by processor"
echo "time; below 1 is faster). Fixed cost: processor time of the same command on a 16 x 16"
echo "picture of the same kind (start-up, libraries); the net ratio leaves it out on both sides,"
echo "and 'fixed cost dominates' marks rows where it is over a quarter of either side's time."
echo
echo "| Work | Fastest peer | ours ms | peer ms | ratio | ours wall ms | peer wall ms | wall ratio |" \
    "fixed ms ours / peer | net ratio | other peers ms | peak MiB ours / peer | within bound |"
echo "| --- | --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | --- | ---: | --- |"
status=0
# row LABEL FILE BYTES_PER_BITMAP_PIXEL PEERS: PEERS is a list of "NAME|COMMAND" separated by
# newlines; FILE in a peer command is written @. Peers whose program is missing are left out.
row() {
    label=$1 file=$2 bpp=$3 peers=$4
    wanted=no
    old_ifs=$IFS
    IFS=,
    set -f  # the patterns are matched against labels, not expanded to file names here
    for pattern in $only; do
        # shellcheck disable=SC2254
        case $label in $pattern) wanted=yes ;; esac
    done
    set +f
    IFS=$old_ifs
    [ $wanted = yes ] || return 0
    if [ ! -s "$cache/$file" ]; then
        echo "| $label | | | | | | | | | | | | skipped: no input |"
        return
    fi
    if ! "$decode" "$cache/$file" -o /dev/null >/dev/null 2>&1; then
        echo "| $label | | | | | | | | | | | | skipped: not read yet |"
        return
    fi
    names= big="-- $decode $cache/$file -o /dev/null" small="-- $decode $cache/tiny/$file -o /dev/null"
    old_ifs=$IFS
    IFS='
'
    for peer in $peers; do
        IFS=$old_ifs
        name=${peer%%|*}
        command=${peer#*|}
        set -- $command
        if ! command -v "$1" >/dev/null 2>&1; then continue; fi
        names="$names|$name"
        big="$big --"
        small="$small --"
        for arg in "$@"; do
            case $arg in
                @) big="$big $cache/$file" small="$small $cache/tiny/$file" ;;
                *) big="$big $arg" small="$small $arg" ;;
            esac
        done
    done
    IFS=$old_ifs
    if [ -z "$names" ]; then
        echo "| $label | | | | | | | | | | | | skipped: no peer program |"
        return
    fi
    # shellcheck disable=SC2086
    large=$(python3 "$root/bench/pair_time.py" "$runs" $big) || { status=1; return; }
    # shellcheck disable=SC2086
    tiny=$(python3 "$root/bench/pair_time.py" "$runs" $small) || { status=1; return; }
    size=$(stat -c %s "$cache/$file")
    bound=$(((2 * pixels * bpp + size + 33554432) / 1024))
    printf '%s\n' "$names" | tr '|' '\n' | tail -n +2 > "$cache/names"
    printf '%s\n' "$large" > "$cache/large"
    printf '%s\n' "$tiny" > "$cache/tiny.txt"
    line=$(awk -v label="$label" -v bound="$bound" '
        FILENAME == ARGV[1] { name[FNR + 1] = $0; next }
        FILENAME == ARGV[2] { cpu[FNR] = $1; wall[FNR] = $2; peak[FNR] = $3; n = FNR; next }
        { fixed[FNR] = $1 }
        END {
            best = 2
            for (i = 3; i <= n; ++i) if (cpu[i] < cpu[best]) best = i
            others = ""
            for (i = 2; i <= n; ++i)
                if (i != best) others = others sprintf("%s%s %.0f", others == "" ? "" : ", ", name[i], cpu[i])
            ratio = cpu[best] > 0 ? cpu[1] / cpu[best] : 0
            wratio = wall[best] > 0 ? wall[1] / wall[best] : 0
            netours = cpu[1] - fixed[1]; netpeer = cpu[best] - fixed[best]
            net = netpeer > 0 ? sprintf("%.2f", netours / netpeer) : "-"
            if (fixed[1] > cpu[1] / 4 || fixed[best] > cpu[best] / 4) net = net ", fixed cost dominates"
            within = peak[1] <= bound ? "yes" : sprintf("NO (bound %.0f MiB)", bound / 1024)
            printf "| %s | %s | %.0f | %.0f | %.2f | %.0f | %.0f | %.2f | %.0f / %.0f | %s | %s | %.0f / %.0f | %s |\n",
                label, name[best], cpu[1], cpu[best], ratio, wall[1], wall[best], wratio,
                fixed[1], fixed[best], net, others == "" ? "-" : others, peak[1] / 1024,
                peak[best] / 1024, within
        }' "$cache/names" "$cache/large" "$cache/tiny.txt")
    case $line in *"| NO (bound"*) status=1 ;; esac
    echo "$line"
}
nl='
'
png="libpng simplified|$cache/png_simplified @ /dev/null${nl}libpng rows|$cache/png_rows @ /dev/null"
png="$png${nl}libspng|$cache/spng_decode @ /dev/null${nl}stb_image|$cache/stb_decode @ /dev/null"
jpeg="djpeg -pnm|djpeg -pnm -outfile /dev/null @${nl}TurboJPEG|$cache/tj_decode @ /dev/null"
stb="stb_image|$cache/stb_decode @ /dev/null"
row "JPEG baseline 4:4:4" baseline444.jpg 3 "$jpeg"
row "JPEG progressive 4:2:0" progressive.jpg 3 "$jpeg"
row "PNG 8-bit RGB" rgb8.png 3 "$png"
row "PNG 8-bit RGBA" rgba8.png 4 "$png"
row "PNG palette" palette.png 1 "$png"
row "PNG 16-bit RGB" rgb16.png 3 "$png"
row "PNG interlaced RGB" interlaced.png 3 "$png"
row "BMP 24-bit" rgb24.bmp 3 "bmptopnm|bmptopnm @"
row "TIFF RGB uncompressed" plain.tif 3 "tifftopnm|tifftopnm @"
row "TIFF RGB LZW" lzw.tif 3 "tifftopnm|tifftopnm @"
row "PCX 24-bit" rgb24.pcx 3 "pcxtoppm|pcxtoppm @"
row "SGI RGB" rgb.sgi 3 "sgitopnm|sgitopnm @"
row "Targa 24-bit" rgb24.tga 3 "$stb"
row "PSD RGB" rgb.psd 3 "$stb"
row "PPM" photo.ppm 3 "$stb${nl}pamtopnm|pamtopnm @"
row "GIF 256 colours" photo.gif 1 "giftopnm|giftopnm @"
row "WebP lossy" lossy.webp 3 "dwebp -pam|dwebp -quiet -pam @ -o /dev/null"
row "WebP lossless" lossless.webp 3 "dwebp -pam|dwebp -quiet -pam @ -o /dev/null"
# Both uses of OpenJPEG's reader: one thread (its default) and two, as ours decodes.
j2k="opj_decompress|opj_decompress -quiet -i @ -o $cache/out.pnm"
j2k="$j2k${nl}opj_decompress -threads 2|opj_decompress -quiet -threads 2 -i @ -o $cache/out.pnm"
row "JPEG 2000 lossy" lossy.jp2 3 "$j2k"
row "JPEG XL lossy" lossy.jxl 3 "djxl|djxl @ $cache/out.ppm --quiet"
row "JPEG XL lossless" lossless.jxl 3 "djxl|djxl @ $cache/out.ppm --quiet"
# heif-convert writes only files named by type: PNG, the RGB output (y4m keeps YUV).
row "HEIF 8-bit 4:2:0" photo.heic 3 "heif-convert PNG|heif-convert @ $cache/out.png"
row "AVIF 8-bit 4:4:4" photo.avif 3 "avifdec PNG level 0|avifdec --png-compress 0 @ $cache/out.png"
row "QOI RGB" rgb8.qoi 3 "qoi.h|$cache/qoi_decode @ /dev/null"
row "QOI RGBA" rgba8.qoi 4 "qoi.h|$cache/qoi_decode @ /dev/null"
# Vector pictures are drawn by velkaro-render (Qt's painting); rsvg-convert writes only PNG and
# the like, so its time includes compressing the PNG.
render=$build/tools/velkaro-render
if [ -x "$render" ]; then
    plain_decode=$decode
    decode=$render
    row "SVG drawing, 4000 shapes" drawing.svg 4 "rsvg-convert PNG|rsvg-convert @ -o $cache/out.png"
    decode=$plain_decode
else
    echo "| SVG drawing | | | | | | | | | | | | skipped: no velkaro-render |"
fi

# ---- the reader: open to first paint, and the file list ----
[ "${GUI:-1}" = 0 ] && exit $status
echo
paint=$build/bench/bench_gui_paint
filelist=$build/bench/bench_gui_filelist
if [ -x "$paint" ]; then
    for file in baseline444.jpg rgb8.png; do
        [ -s "$cache/$file" ] && "$paint" --open "$cache/$file" "$runs" || status=1
    done
else
    echo "Open to paint: not built (configure with VELKARO_GUI=ON VELKARO_BENCH=ON)."
fi
viewer=$build/bench/bench_gui_viewer
if [ -x "$viewer" ]; then
    [ -s "$cache/baseline444.jpg" ] && "$viewer" "$cache/baseline444.jpg" "$runs" || status=1
else
    echo "Viewer: not built (configure with VELKARO_GUI=ON VELKARO_BENCH=ON)."
fi
if [ -x "$filelist" ]; then
    "$filelist" 20000 "$runs" || status=1
else
    echo "File list: not built (configure with VELKARO_GUI=ON VELKARO_BENCH=ON)."
fi
exit $status

#!/bin/sh
# Times velkaro-decode against the usual reader of each format on large pictures and prints a
# table: the median processor time (user + system) of RUNS runs each, taken in turns so that
# both see the same load, their ratio (ours / theirs; below 1 is faster), the peak resident
# memory of each, and whether ours kept within twice the bitmap plus the file plus 32 MiB.
# Both write their PAM or PNM output to /dev/null. A format that velkaro-decode cannot read
# (yet) is skipped. Then, when the GUI benchmarks are built, the time from opening a picture to
# its first paint, and the file list of a 20,000-file folder next to `ls -l`.
#
#   bench/compare.sh [BUILD_DIR]          (default: build; RUNS=5, WIDTH=4000, HEIGHT=3000)
#
# ROWS=PATTERN times only the rows whose label matches the extended regular expression
# (ROWS='JPEG 2000|HEIF'), and skips the reader's benchmarks; the inputs are all made first.
#
# Inputs and peer programs are made once in $BENCH_CACHE (default /tmp/velkaro-bench-WxH).
# Needs: cc, python3, GNU time, ImageMagick's convert, libjpeg-turbo-progs (cjpeg, djpeg),
# netpbm, libtiff-tools, libpng-dev, libstb-dev and libqoi-dev with qoi (see scripts/setup).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
decode=$build/tools/velkaro-decode
runs=${RUNS:-5}
width=${WIDTH:-4000}
height=${HEIGHT:-3000}
cache=${BENCH_CACHE:-${TMPDIR:-/tmp}/velkaro-bench-${width}x$height}
[ -x "$decode" ] || { echo "velkaro-decode not found: $decode" >&2; exit 2; }
mkdir -p "$cache"

# ---- peers ----
cc -O2 -o "$cache/png_simplified" "$root/bench/peers/png_simplified.c" -lpng
cc -O2 -o "$cache/stb_decode" "$root/bench/peers/stb_decode.c" -lm
cc -O2 -o "$cache/qoi_decode" "$root/bench/peers/qoi_decode.c" 2>/dev/null || true

# ---- inputs, made once ----
# A photo-like picture: a plasma fractal, slightly blurred, with sensor-like noise.
make_input() {  # NAME COMMAND...: runs the command unless $cache/NAME exists
    name=$1
    shift
    [ -s "$cache/$name" ] && return 0
    "$@" >/dev/null 2>&1 || rm -f "$cache/$name"
}
plain="-define png:exclude-chunk=all"
cd "$cache"
make_input photo.ppm convert -size "${width}x$height" -seed 7 plasma:fractal -blur 0x1 \
    -attenuate 0.3 +noise Gaussian -depth 8 photo.ppm
make_input baseline444.jpg cjpeg -quality 90 -sample 1x1 -outfile baseline444.jpg photo.ppm
make_input progressive.jpg cjpeg -quality 90 -progressive -outfile progressive.jpg photo.ppm
make_input rgb8.png convert photo.ppm $plain PNG24:rgb8.png
make_input rgba8.png convert photo.ppm \( +clone -channel R -separate -blur 0x8 \) -alpha off \
    -compose CopyOpacity -composite $plain PNG32:rgba8.png
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
make_input lossy.jp2 opj_compress -i photo.ppm -o lossy.jp2 -r 20
make_input lossless.jxl cjxl photo.ppm lossless.jxl -d 0 -e 3
make_input lossy.jxl cjxl photo.ppm lossy.jxl -d 1 -e 7
make_input photo.heic heif-enc -q 90 rgb8.png -o photo.heic
make_input photo.avif avifenc -s 8 rgb8.png photo.avif
make_input drawing.svg python3 "$root/bench/make_drawing.py" drawing.svg "$width" "$height"
make_input rgb8.qoi qoiconv rgb8.png rgb8.qoi
make_input rgba8.qoi qoiconv rgba8.png rgba8.qoi

# ---- the table ----
mib() { awk -v k="$1" 'BEGIN { printf "%.0f", k / 1024 }'; }
pixels=$((width * height))
echo "Machine: $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1)," \
    "$(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo), Linux $(uname -r)"
echo "Pictures ${width} x ${height}, output to /dev/null, median of $runs paired runs."
echo
echo "| Work | Peer | ours ms | peer ms | ratio | ours peak MiB | peer peak MiB | within bound |"
echo "| --- | --- | ---: | ---: | ---: | ---: | ---: | --- |"
status=0
# row LABEL FILE BYTES_PER_BITMAP_PIXEL PEER_NAME PEER_COMMAND...  (FILE in the peer command: @)
row() {
    label=$1 file=$2 bpp=$3 peer=$4
    shift 4
    if [ -n "${ROWS:-}" ] && ! printf '%s\n' "$label" | grep -Eq -- "$ROWS"; then
        return
    fi
    if [ ! -s "$cache/$file" ]; then
        echo "| $label | $peer | | | | | | skipped: no input |"
        return
    fi
    if ! command -v "$1" >/dev/null 2>&1; then
        echo "| $label | $peer | | | | | | skipped: no $1 |"
        return
    fi
    if ! "$decode" "$cache/$file" -o /dev/null >/dev/null 2>&1; then
        echo "| $label | $peer | | | | | | skipped: not read yet |"
        return
    fi
    theirs=
    for arg in "$@"; do
        [ "$arg" = @ ] && arg=$cache/$file
        theirs="$theirs $arg"
    done
    # shellcheck disable=SC2086
    set -- $(python3 "$root/bench/pair_time.py" "$runs" -- "$decode" "$cache/$file" -o /dev/null \
        -- $theirs)
    size=$(stat -c %s "$cache/$file")
    bound=$(((2 * pixels * bpp + size + 33554432) / 1024))
    within=yes
    [ "$4" -le "$bound" ] || { within="NO (bound $(mib $bound) MiB)"; status=1; }
    echo "| $label | $peer | $1 | $2 | $3 | $(mib "$4") | $(mib "$5") | $within |"
}
row "JPEG baseline 4:4:4" baseline444.jpg 3 "djpeg -pnm" djpeg -pnm -outfile /dev/null @
row "JPEG progressive 4:2:0" progressive.jpg 3 "djpeg -pnm" djpeg -pnm -outfile /dev/null @
row "PNG 8-bit RGB" rgb8.png 3 "libpng simplified" "$cache/png_simplified" @ /dev/null
row "PNG 8-bit RGBA" rgba8.png 4 "libpng simplified" "$cache/png_simplified" @ /dev/null
row "PNG palette" palette.png 1 "libpng simplified" "$cache/png_simplified" @ /dev/null
row "PNG 16-bit RGB" rgb16.png 3 "libpng simplified" "$cache/png_simplified" @ /dev/null
row "PNG interlaced RGB" interlaced.png 3 "libpng simplified" "$cache/png_simplified" @ /dev/null
row "PNG 8-bit RGB" rgb8.png 3 "stb_image" "$cache/stb_decode" @ /dev/null
row "BMP 24-bit" rgb24.bmp 3 "bmptopnm" bmptopnm @
row "TIFF RGB uncompressed" plain.tif 3 "tifftopnm" tifftopnm @
row "TIFF RGB LZW" lzw.tif 3 "tifftopnm" tifftopnm @
row "PCX 24-bit" rgb24.pcx 3 "pcxtoppm" pcxtoppm @
row "SGI RGB" rgb.sgi 3 "sgitopnm" sgitopnm @
row "Targa 24-bit" rgb24.tga 3 "stb_image" "$cache/stb_decode" @ /dev/null
row "PSD RGB" rgb.psd 3 "stb_image" "$cache/stb_decode" @ /dev/null
row "PPM" photo.ppm 3 "stb_image" "$cache/stb_decode" @ /dev/null
row "GIF 256 colours" photo.gif 1 "giftopnm" giftopnm @
row "WebP lossy" lossy.webp 3 "dwebp -pam" dwebp -quiet -pam @ -o /dev/null
row "WebP lossless" lossless.webp 3 "dwebp -pam" dwebp -quiet -pam @ -o /dev/null
row "JPEG 2000 lossy" lossy.jp2 3 "opj_decompress" opj_decompress -quiet -i @ -o "$cache/out.pnm"
row "JPEG XL lossy" lossy.jxl 3 "djxl" djxl @ "$cache/out.ppm" --quiet
row "JPEG XL lossless" lossless.jxl 3 "djxl" djxl @ "$cache/out.ppm" --quiet
# heif-convert writes only files named by type: PNG, the RGB output (y4m keeps YUV).
row "HEIF 8-bit 4:2:0" photo.heic 3 "heif-convert PNG" heif-convert @ "$cache/out.png"
row "AVIF 8-bit 4:4:4" photo.avif 3 "avifdec PNG level 0" avifdec --png-compress 0 @ "$cache/out.png"
# Vector pictures are drawn by velkaro-render (Qt's painting); rsvg-convert writes only PNG and
# the like, so its time includes compressing the PNG.
render=$build/tools/velkaro-render
if [ -x "$render" ]; then
    plain_decode=$decode
    decode=$render
    row "SVG drawing, 4000 shapes" drawing.svg 4 "rsvg-convert PNG" rsvg-convert @ -o "$cache/out.png"
    decode=$plain_decode
else
    echo "| SVG drawing | rsvg-convert PNG | | | | | | skipped: no velkaro-render |"
fi
row "QOI RGB" rgb8.qoi 3 "qoi.h" "$cache/qoi_decode" @ /dev/null
row "QOI RGBA" rgba8.qoi 4 "qoi.h" "$cache/qoi_decode" @ /dev/null

# ---- the reader: open to first paint, and the file list ----
[ -z "${ROWS:-}" ] || exit $status
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

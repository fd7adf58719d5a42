#!/bin/sh
# Times velkaro-decode on a large Photoshop file (8-bit RGB, PackBits) against ImageMagick's
# convert writing the same PAM, and against a small stb_image program doing the same when
# stb_image.h and a C compiler are present. The runs alternate in one loop so that all see
# the same machine load; each figure is the best of the runs (processor time). The pixels are
# compared too. Target: at most 0.8 x the faster peer's time.
#
#   bench/psd_vs_convert.sh [VELKARO_DECODE] [WIDTH HEIGHT]
#
# Needs python3 and ImageMagick's convert; optionally cc and stb_image.h (Debian: libstb-dev).
set -eu
. "$(dirname "$0")/common.sh"
bench_init 4000 3000 "$@"

# Photo-like pixels: every row a shifted slice of a long pseudo-random walk, tinted by its
# height, with flat stretches that PackBits can shorten.
make_photo --flat 40,5 --tint
convert "$work/rgb.ppm" -depth 8 -define psd:write-layers=false -compress RLE "$work/rgb.psd"
rm "$work/rgb.ppm"

# The stb_image peer: decodes the file and writes the PAM, as velkaro-decode does.
stb=
if command -v cc >/dev/null 2>&1 && [ -f /usr/include/stb/stb_image.h ]; then
    cat > "$work/stbpam.c" <<'C'
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PSD
#include <stb/stb_image.h>
#include <stdio.h>
int main(int argc, char** argv) {
    int w, h, n;
    unsigned char* p = stbi_load(argv[1], &w, &h, &n, 3);
    if (!p) return 1;
    FILE* f = fopen(argv[2], "wb");
    fprintf(f, "P7\nWIDTH %d\nHEIGHT %d\nDEPTH 3\nMAXVAL 255\nTUPLTYPE RGB\nENDHDR\n", w, h);
    fwrite(p, 3, (size_t)w * h, f);
    fclose(f);
    stbi_image_free(p);
    return 0;
}
C
    cc -O2 -o "$work/stbpam" "$work/stbpam.c" -lm && stb="$work/stbpam"
fi


file="$work/rgb.psd"
ours=
theirs=
stbs=
i=0
while [ $i -lt "$runs" ]; do
    t=$(cpu_ms "$decode" "$file" -o "$work/out.pam")
    if [ -z "$ours" ] || [ "$t" -lt "$ours" ]; then ours=$t; fi
    t=$(cpu_ms convert "$file[0]" -depth 8 "pam:$work/ref.pam")
    if [ -z "$theirs" ] || [ "$t" -lt "$theirs" ]; then theirs=$t; fi
    if [ -n "$stb" ]; then
        t=$(cpu_ms "$stb" "$file" "$work/stb.pam")
        if [ -z "$stbs" ] || [ "$t" -lt "$stbs" ]; then stbs=$t; fi
    fi
    i=$((i + 1))
done

status=0
n=$((width * height * 3))
tail -c $n "$work/out.pam" > "$work/a"
tail -c $n "$work/ref.pam" > "$work/b"
if ! cmp -s "$work/a" "$work/b"; then
    echo "pixels differ from ImageMagick" >&2
    status=1
fi
faster=$theirs
peers="convert ${theirs} ms"
if [ -n "$stbs" ]; then
    peers="$peers, stb_image ${stbs} ms"
    [ "$stbs" -lt "$faster" ] && faster=$stbs
    tail -c $n "$work/stb.pam" > "$work/c"
    cmp -s "$work/a" "$work/c" || { echo "pixels differ from stb_image" >&2; status=1; }
fi
ratio=$(awk -v a="$ours" -v b="$faster" 'BEGIN { printf "%.2f", a / b }')
echo "rgb8 packbits ${width}x${height} ($(wc -c < "$file") bytes): velkaro-decode ${ours} ms," \
    "$peers, ratio to the faster ${ratio}"
if awk -v r="$ratio" 'BEGIN { exit !(r > 0.8) }'; then status=1; fi
exit $status

#!/bin/sh
# How long the process lives on after its window is closed while a picture decodes in a library
# call that cannot be cancelled (libheif decodes a picture in one call, about 2 s here). Starts
# velkaro on an 8000 x 6000 HEIF picture made here, closes its window (WM_DELETE_WINDOW, as a
# window manager does) at delays spread over the decode, and times from the close to the end of
# the process.
#
# Usage: xvfb-run -a bench/close_while_decoding.sh [BUILD_DIR] [RUNS]
# Needs cjpeg, heif-enc, xdotool and a C compiler with the X11 headers.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
runs=${2:-15}
velkaro=$build/app/velkaro
[ -x "$velkaro" ] || { echo "velkaro not found: $velkaro" >&2; exit 2; }
[ -n "${DISPLAY:-}" ] || { echo "needs an X server: run under xvfb-run -a" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Sends WM_DELETE_WINDOW to the window given by its id.
cat > "$work/close.c" <<'C'
#include <X11/Xlib.h>
#include <stdlib.h>
int main(int argc, char** argv) {
    Display* d = XOpenDisplay(NULL);
    if (!d || argc < 2) return 1;
    XEvent e = {0};
    e.xclient.type = ClientMessage;
    e.xclient.window = (Window)strtoul(argv[1], NULL, 0);
    e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = (long)XInternAtom(d, "WM_DELETE_WINDOW", False);
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, e.xclient.window, False, NoEventMask, &e);
    XCloseDisplay(d);
    return 0;
}
C
cc -O2 -o "$work/close" "$work/close.c" -lX11

# A photo-like picture: gradients with noise, so that the decode takes a while.
python3 - "$work/big.ppm" <<'PY'
import random, sys
w, h = 8000, 6000
random.seed(1)
base = bytearray(w * 3)
base[0::3] = bytes((x * 255 // w) for x in range(w))
base[2::3] = bytes((x * 127 // w + 64) for x in range(w))
rows = [bytes((v + random.randrange(24) + k) & 255 for v in base) for k in range(0, 97 * 2, 2)]
with open(sys.argv[1], "wb") as f:
    f.write(b"P6\n%d %d\n255\n" % (w, h))
    for y in range(h):
        f.write(rows[y % len(rows)])
PY
cjpeg -quality 85 "$work/big.ppm" > "$work/big.jpg"
heif-enc -q 50 -p preset=ultrafast "$work/big.jpg" -o "$work/big.heic" >/dev/null
rm "$work/big.ppm" "$work/big.jpg"

cpu=$(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -1)
echo "CPU: $cpu; $(nproc) cores; $runs closes while a 8000 x 6000 HEIF picture decodes"
export XDG_CONFIG_HOME="$work/config"
i=0
times=""
while [ "$i" -lt "$runs" ]; do
    "$velkaro" "$work/big.heic" >/dev/null 2>&1 &
    pid=$!
    window=$(xdotool search --sync --onlyvisible --pid "$pid" 2>/dev/null | head -1)
    # Spread the closes over the first second of the decode.
    sleep "0.$(( (i * 7) % 10 ))"
    start=$(date +%s%N)
    "$work/close" "$window"
    while kill -0 "$pid" 2>/dev/null; do
        [ -d "/proc/$pid" ] && grep -q '^State:.*Z' "/proc/$pid/status" 2>/dev/null && break
        sleep 0.005
    done
    wait "$pid" 2>/dev/null || true
    end=$(date +%s%N)
    ms=$(( (end - start) / 1000000 ))
    times="$times $ms"
    i=$((i + 1))
done
echo "close to process end (ms):$times"
echo "$times" | tr ' ' '\n' | grep . | sort -n | awk '{v[NR]=$1} END {printf "median %d ms, longest %d ms\n", v[int((NR+1)/2)], v[NR]}'

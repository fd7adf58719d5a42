#!/usr/bin/env bash
# The installed thumbnailer as the desktop runs it: the entry's Exec line with its fields filled
# in (%s the size, %u the URI, %i the path, %o the output) on pictures made here, then through
# gnome-desktop's own thumbnail factory (Python GObject introspection), which runs the entry
# inside its bubblewrap sandbox. That sandbox shows the thumbnailer only /usr (and the file it
# reads), so the install prefix lies under /usr/local when that can be written; elsewhere the
# factory's part is skipped.
# Usage: check_thumbnailer.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
pictures=$(mktemp -d)
prefix=$(mktemp -d /usr/local/velkaro-thumbnailer-test.XXXXXX 2>/dev/null) || prefix=$(mktemp -d)
trap 'rm -rf "$pictures" "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
export PATH=$prefix/bin:$PATH XDG_DATA_DIRS=$prefix/share:/usr/share
export XDG_CACHE_HOME=$pictures/cache
unset DISPLAY WAYLAND_DISPLAY
picture() { python3 "$here/desktop_thumbnail.py" "$@"; }

failed=0
fail() { echo "FAIL: $*"; failed=1; }

picture pcx "$pictures/wide.pcx" 600 400
picture pcx "$pictures/a b"$'\xe9'".pcx" 30 50
picture wmf "$pictures/drawing.wmf"
exec_line=$(sed -n 's/^Exec=//p' "$prefix/share/thumbnailers/velkaro.thumbnailer")
uri() { python3 -c 'import os, sys, urllib.parse as u; print("file://" + u.quote(os.fsencode(sys.argv[1])))' "$1"; }

# file, size, the input field, the thumbnail's size
while read -r name size field expected; do
    name=${name//@/ }
    name=${name//\~/$'\xe9'}
    file=$pictures/$name
    line=${exec_line//%u/$field}
    args=()
    for word in $line; do
        case "$word" in
            %s) args+=("$size") ;;
            %u) args+=("$(uri "$file")") ;;
            %i) args+=("$file") ;;
            %o) args+=("$pictures/out.png") ;;
            *) args+=("$word") ;;
        esac
    done
    rm -f "$pictures/out.png"
    if ! "${args[@]}"; then fail "$name at $size by $field"; continue; fi
    got=$(picture size "$pictures/out.png" | tr ' ' x)
    [ "$got" = "$expected" ] || fail "$name at $size by $field: $got, not $expected"
done <<'CASES'
wide.pcx 256 %u 256x171
wide.pcx 128 %i 128x85
a@b~.pcx 256 %u 30x50
drawing.wmf 128 %u 128x64
drawing.wmf 512 %i 200x100
CASES
velkaro-thumbnailer -s 64 "$pictures/missing.pcx" "$pictures/out.png" 2>/dev/null &&
    fail "a missing file gives a thumbnail"

# The desktop's client: a 256-pixel thumbnail of the PCX file through the installed entry.
python=
for candidate in /usr/bin/python3 python3; do
    if "$candidate" -c 'import gi' 2>/dev/null; then python=$candidate; break; fi
done
if [ -z "$python" ] || ! command -v update-mime-database >/dev/null; then
    echo "SKIP: gnome-desktop's factory (python3-gi or shared-mime-info missing)"
else
    update-mime-database "$prefix/share/mime"
    status=0
    got=$("$python" "$here/desktop_thumbnail.py" gnome "$(uri "$pictures/wide.pcx")" \
        image/vnd.zbrush.pcx) || status=$?
    if [ "$status" -eq 77 ]; then
        echo "SKIP: gnome-desktop's factory (its typelib is missing)"
    elif [ "$status" -ne 0 ] || [ "$got" != "256 171" ]; then
        fail "gnome-desktop's factory made '$got'"
    fi
fi

if [ "$failed" -eq 0 ]; then echo "1 passed, 0 failed"; else echo "0 passed, 1 failed"; fi
exit "$failed"

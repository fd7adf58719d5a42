#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks the installed tree: the programs, the
# desktop entry (valid, and naming the MIME type of every registered extension that the shared
# MIME database knows), the icons, the AppStream metadata (valid), the manual pages, and the
# thumbnailer with its entry and MIME types (the thumbnailer makes a thumbnail as installed).
# Usage: check_install.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

failed=0
fail() { echo "FAIL: $*"; failed=1; }

for f in bin/velkaro bin/velkaro-decode bin/velkaro-render bin/velkaro-thumbnailer \
         bin/velkaro-convert \
         share/thumbnailers/velkaro.thumbnailer share/mime/packages/velkaro.xml \
         share/applications/velkaro.desktop \
         share/metainfo/io.github.velkaro.Velkaro.metainfo.xml \
         share/icons/hicolor/scalable/apps/velkaro.svg \
         share/man/man1/velkaro.1 share/man/man1/velkaro-decode.1 share/man/man1/velkaro-render.1 \
         share/man/man1/velkaro-thumbnailer.1 share/man/man1/velkaro-convert.1; do
    [ -e "$prefix/$f" ] || fail "missing $f"
done
for size in 16 22 24 32 48 64 128 256; do
    [ -e "$prefix/share/icons/hicolor/${size}x${size}/apps/velkaro.png" ] || fail "missing ${size}px icon"
done
[ -x "$prefix/bin/velkaro" ] || fail "velkaro is not executable"

desktop=$prefix/share/applications/velkaro.desktop
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "desktop entry does not validate"
fi
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$prefix/share/metainfo/io.github.velkaro.Velkaro.metainfo.xml" \
        >/dev/null || fail "metainfo does not validate"
fi
grep -q '^Exec=velkaro %f$' "$desktop" || fail "Exec line"
mimes=";$(sed -n 's/^MimeType=//p' "$desktop")"
case "$mimes" in *";text/plain;"*) ;; *) fail "text/plain not in MimeType" ;; esac

# Every extension the reader decodes whose type the shared MIME database names is listed.
globs=/usr/share/mime/globs2
if [ -r "$globs" ]; then
    while IFS=$'\t' read -r ext _; do
        while IFS= read -r mime; do
            [ -n "$mime" ] || continue
            case "$mime" in image/*) ;; *) continue ;; esac
            case "$mimes" in *";$mime;"*) ;; *) fail "$ext ($mime) not in MimeType" ;; esac
        done < <(grep -i ":\*\.${ext}\$" "$globs" | cut -d: -f2)
    done < <("$prefix/bin/velkaro-decode" --list-formats)
fi

"$prefix/bin/velkaro-decode" --version | grep -q '^velkaro-decode [0-9]' || fail "--version"
"$prefix/bin/velkaro-convert" --version | grep -q '^velkaro-convert [0-9]' || fail "convert --version"
"$prefix/bin/velkaro-convert" --help | grep -q -- '--keep-time' || fail "convert --help"
"$prefix/bin/velkaro-decode" --help | grep -q -- '--list-formats' || fail "--help"
[ "$("$prefix/bin/velkaro-decode" --list-formats | wc -l)" -ge 39 ] || fail "--list-formats"

thumbnailer=$prefix/share/thumbnailers/velkaro.thumbnailer
grep -q '^Exec=velkaro-thumbnailer -s %s %u %o$' "$thumbnailer" || fail "thumbnailer Exec line"
grep -q '^MimeType=.*image/x-qoi;' "$thumbnailer" || fail "thumbnailer MimeType"
if command -v xmllint >/dev/null; then
    xmllint --noout "$prefix/share/mime/packages/velkaro.xml" || fail "MIME package is not XML"
fi
printf 'P6\n40 20\n255\n' >"$prefix/p.ppm"
head -c 2400 /dev/zero >>"$prefix/p.ppm"
env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/velkaro-thumbnailer" -s 16 "file://$prefix/p.ppm" \
    "$prefix/p.png" && [ "$(head -c 8 "$prefix/p.png" | od -An -tx1 | tr -d ' ')" = 89504e470d0a1a0a ] ||
    fail "thumbnailer"
"$prefix/bin/velkaro-thumbnailer" -s 16 "$prefix/none.ppm" "$prefix/n.png" 2>/dev/null &&
    fail "thumbnailer succeeds on a missing file"

if [ "$failed" -eq 0 ]; then echo "1 passed, 0 failed"; else echo "0 passed, 1 failed"; fi
exit "$failed"

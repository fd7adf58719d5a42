#!/bin/sh
# Decodes every file of a picture folder with velkaro-decode and prints one line per file: the
# SHA-256 of the PAM written (or "error" with the exit status), then the file's relative path.
# Two lists made before and after a change to a loader must be identical.
#
#   bench/hash_corpus.sh [VELKARO_DECODE] [FOLDER] > hashes.txt
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
decode=${1:-$root/build/tools/velkaro-decode}
folder=${2:-/work/shared/testdata}
[ -x "$decode" ] || { echo "velkaro-decode not found: $decode" >&2; exit 2; }
decode=$(cd "$(dirname "$decode")" && pwd)/$(basename "$decode")
[ -d "$folder" ] || { echo "no folder: $folder" >&2; exit 2; }

out=$(mktemp)
trap 'rm -f "$out"' EXIT
cd "$folder"
find . -type f | LC_ALL=C sort | while IFS= read -r file; do
    rc=0
    "$decode" "$file" -o "$out" >/dev/null 2>&1 || rc=$?
    if [ "$rc" -eq 0 ]; then
        hash=$(sha256sum < "$out" | cut -c1-64)
    else
        hash="error-$rc"
    fi
    printf '%s  %s\n' "$hash" "$file"
done

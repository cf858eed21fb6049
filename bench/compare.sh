#!/usr/bin/env bash
# Speed, size and peak memory of velt against xz -9 and bzip2 -9 on the same
# files in the same run (the machine is shared: read the ratios, not the
# absolute times). Usage: bench/compare.sh [velt-binary] [file...]
# Needs hyperfine, xz and bzip2 (apt-get install hyperfine xz-utils bzip2).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
velt=${1:-$here/../build/velt}
shift || true
files=("$@")
if [ ${#files[@]} -eq 0 ]; then
  files=("$here/../../shared/corpus/text/lcet10.txt" "$here/../../shared/corpus/binary/kennedy.xls")
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for f in "${files[@]}"; do
  name=$(basename "$f")
  size=$(stat -c %s "$f")
  echo "== $name ($size bytes)"
  "$velt" e -si "$f" "$work/$name.velt"
  xz -9 -k -c "$f" > "$work/$name.xz"
  bzip2 -9 -c "$f" > "$work/$name.bz2"
  for ext in velt xz bz2; do
    c=$(stat -c %s "$work/$name.$ext")
    awk -v n="$ext" -v c="$c" -v s="$size" 'BEGIN { printf "  %-5s %9d bytes  %.3f bpc\n", n, c, c * 8 / s }'
  done
  hyperfine -N --warmup 1 --runs 5 --export-markdown "$work/$name.md" \
    -n "velt e" "$velt e -si $f $work/out.velt" \
    -n "velt d" "$velt d -si $work/$name.velt $work/out.raw" \
    -n "xz -9" "xz -9 -k -c -T1 $f" \
    -n "xz -d" "xz -d -k -c $work/$name.xz" \
    -n "bzip2 -9" "bzip2 -9 -c $f" \
    -n "bzip2 -d" "bzip2 -d -c $work/$name.bz2" >/dev/null
  cat "$work/$name.md"
done

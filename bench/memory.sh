#!/usr/bin/env bash
# Peak resident memory of a compression run at each model size, on an input
# large enough to fill the model. Usage: bench/memory.sh [velt-binary] [file]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
velt=${1:-$here/../build/velt}
input=${2:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -z "$input" ]; then
  input=$work/input
  for i in 1 2 3; do cat "$here"/../../shared/corpus/*/* >> "$input"; done
fi
for m in 10 20 30 40 50; do
  for o in 5 8; do
    /usr/bin/time -f "%M" -o "$work/rss" "$velt" e -si -o$o -m:$m "$input" "$work/out.velt"
    awk -v m="$m" -v o="$o" '{ printf "-o%s -m:%s  peak %.1f MB (%.1f%% of chosen)\n", o, m, $1 / 1024, $1 / 1024 / m * 100 }' "$work/rss"
  done
done

#!/usr/bin/env bash
# Times two Velt builds against each other: runs alternate between them on one
# core, and the median of the pairs' own ratios is reported. Separate runs of
# one build on a shared machine differ by up to a third; paired this way, a
# build against itself comes out within 1-3% of 1. Run that check too before
# reading a small difference. Both builds must write the same bytes.
# Usage: bench/ab.sh [-n pairs] [-d] OLD NEW FILE [velt switches...]
#   -d  time decompression (of OLD's output) instead of compression
set -euo pipefail
pairs=41
direction=e
while getopts "n:d" opt; do
  case $opt in
    n) pairs=$OPTARG ;;
    d) direction=d ;;
    *) sed -n '2,9p' "$0"; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
[ $# -ge 3 ] || { sed -n '2,9p' "$0"; exit 2; }
old=$1 new=$2 file=$3
shift 3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

pin=()
if command -v taskset >/dev/null; then pin=(taskset -c "$(($(nproc) - 1))"); fi
# CPU milliseconds of one run: perf's task-clock where there is perf, else
# GNU time's user seconds (10 ms steps: use a larger file).
cpu_ms() {
  if command -v perf >/dev/null; then
    perf stat -x, -e task-clock "${pin[@]}" "$@" 2>&1 >/dev/null | awk -F, '/task-clock/ {print $1}'
  else
    /usr/bin/time -f "%U" -o "$work/t" "${pin[@]}" "$@" >/dev/null 2>&1
    awk '{print $1 * 1000}' "$work/t"
  fi
}

"$old" e "$@" "$file" "$work/old.velt" >/dev/null 2>&1
"$new" e "$@" "$file" "$work/new.velt" >/dev/null 2>&1
cmp -s "$work/old.velt" "$work/new.velt" || { echo "the builds write different bytes"; exit 1; }

# Each pair runs in the other order from the last, so that neither build
# always runs on what the other left in the caches.
for i in $(seq "$pairs"); do
  order="old new"
  [ $((i % 2)) = 0 ] && order="new old"
  for which in $order; do
    bin=$old
    [ "$which" = new ] && bin=$new
    if [ $direction = e ]; then
      t=$(cpu_ms "$bin" e "$@" "$file" "$work/$which.velt")
    else
      t=$(cpu_ms "$bin" d "$work/old.velt" "$work/$which.out")
    fi
    echo "$which $t"
  done
done >"$work/times"
if [ $direction = d ]; then
  for which in old new; do
    cmp -s "$file" "$work/$which.out" || { echo "$which: decompression differs"; exit 1; }
  done
fi

python3 - "$work/times" "$direction" <<'EOF'
import statistics, sys
times = {"old": [], "new": []}
for line in open(sys.argv[1]):
    which, t = line.split()
    times[which].append(float(t))
ratios = sorted(n / o for o, n in zip(times["old"], times["new"]))
q = len(ratios) // 4
print(f"{'compress' if sys.argv[2] == 'e' else 'decompress'}: new/old paired median "
      f"{statistics.median(ratios):.3f} (quartiles {ratios[q]:.3f}-{ratios[-1 - q]:.3f}, "
      f"{len(ratios)} pairs); old median {statistics.median(times['old']):.0f} ms, "
      f"new {statistics.median(times['new']):.0f} ms")
EOF

#!/usr/bin/env bash
# Builds the seed corpora from ../shared/corpus into fuzz/corpus-decode and
# fuzz/corpus-roundtrip (both ignored by git).
#   fuzz/make_seeds.sh [path/to/velt]   (default: build/velt, built if missing)
# decode seeds: small slices compressed with varied switches by the real binary.
# roundtrip seeds: two switch bytes (see roundtrip_fuzzer.cpp) + a raw slice.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
corpus="$root/../shared/corpus"
velt="${1:-$root/build/velt}"
if [[ ! -x "$velt" ]]; then
  cmake -S "$root" -B "$root/build" >/dev/null && cmake --build "$root/build" -j2 --target velt >/dev/null
fi
[[ -d "$corpus" ]] || { echo "no corpus at $corpus" >&2; exit 1; }

dec="$root/fuzz/corpus-decode"
rt="$root/fuzz/corpus-roundtrip"
mkdir -p "$dec" "$rt"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

switch_sets=(
  "" "-o4" "-o6 -rl3" "-o7 -icf" "-o8 -icd" "-o9 -rld" "-da" "-e8f" "-e8d -icd"
  "-mt1" "-m:10 -rl3 -icf" "-mt1 -o4 -rld"
)
n=0
for f in "$corpus"/*/*; do
  [[ -f "$f" && "$(basename "$f")" != README.md ]] || continue
  size=$(stat -c %s "$f")
  for len in 64 700 4000; do
    for off in 0 $((size / 2)); do
      ((off + 1 > size)) && continue
      slice="$tmp/slice"
      dd if="$f" of="$slice" bs=4096 skip="$off" count="$len" iflag=skip_bytes,count_bytes status=none
      sw="${switch_sets[$((n % ${#switch_sets[@]}))]}"
      # shellcheck disable=SC2086
      "$velt" e $sw -si "$slice" "$dec/seed-$n.velt" >/dev/null
      # two switch bytes then the slice, for the round-trip target
      { printf "\\x$(printf %02x $((n % 18)))\\x$(printf %02x $(((n * 7) % 36)))"; cat "$slice"; } \
        >"$rt/seed-$n"
      n=$((n + 1))
    done
  done
done
# Edge cases: empty input, header only, a run, a short text.
printf '' >"$rt/empty"
printf '\x00\x00' >"$rt/empty-switches"
head -c 3000 /dev/zero >"$tmp/zeros" && "$velt" e -si "$tmp/zeros" "$dec/zeros.velt" >/dev/null
: >"$tmp/empty" && "$velt" e -si "$tmp/empty" "$dec/empty.velt" >/dev/null
echo "seeds: $(ls "$dec" | wc -l) in $dec, $(ls "$rt" | wc -l) in $rt"

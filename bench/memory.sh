#!/usr/bin/env bash
# Peak resident memory of compression and decompression at every model size
# and order, binary and text mode, against the bound chosen x 1.1 + 4 MB.
# The inputs are built to fill the model: the corpus and byte-remapped copies
# of it (contexts keep changing), and 4 MiB of English for text mode.
# Usage: bench/memory.sh [velt-binary] [orders, default "4 5 6 7 8 9"] [sizes, default "10 20 30 40 50"]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
velt=${1:-$here/../build/velt}
orders=${2:-4 5 6 7 8 9}
sizes=${3:-10 20 30 40 50}
corpus=$here/../../shared/corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat "$corpus"/*/* > "$work/corpus"
cp "$work/corpus" "$work/binary"
for key in 1 7; do
  # every byte b becomes (b xor key) + key: new contexts, same structure
  python3 -c "import sys; k=$key; d=open(sys.argv[1],'rb').read(); sys.stdout.buffer.write(bytes(((b ^ k) + k) & 255 for b in d))" \
    "$work/corpus" >> "$work/binary"
done
python3 - "$corpus/text" "$work/text" <<'EOF'
import sys
parts = [open(f"{sys.argv[1]}/{n}", "rb").read() for n in ("alice29.txt", "asyoulik.txt", "lcet10.txt", "plrabn12.txt")]
out = bytearray(); i = 0
while len(out) < 4 << 20:
    out += parts[i % 4]; i += 1
open(sys.argv[2], "wb").write(out[:4 << 20])
EOF

printf "%-6s %-5s %-6s %9s %9s %9s  %s\n" size order mode "c peak" "d peak" bound "(MB = 10^6 bytes, the stricter reading)"
worst=0
for m in $sizes; do
  for o in $orders; do
    for mode in binary text; do
      if [ $mode = binary ]; then sw="-da"; in=$work/binary; else sw="-mt1"; in=$work/text; fi
      /usr/bin/time -f "%M" -o "$work/rc" "$velt" e -si $sw -o$o -m:$m "$in" "$work/out.velt"
      /usr/bin/time -f "%M" -o "$work/rd" "$velt" d -si "$work/out.velt" "$work/out.raw"
      cmp -s "$in" "$work/out.raw" || { echo "DECOMPRESSION DIFFERS -o$o -m:$m $mode"; exit 1; }
      c=$(tail -1 "$work/rc"); d=$(tail -1 "$work/rd")
      awk -v m="$m" -v o="$o" -v mode="$mode" -v c="$c" -v d="$d" 'BEGIN {
        bound = m * 1.1 + 4; cm = c * 1024 / 1e6; dm = d * 1024 / 1e6
        flag = (cm > bound || dm > bound) ? "  OVER" : ""
        printf "-m:%-3s -o%-3s %-6s %9.1f %9.1f %9.1f%s\n", m, o, mode, cm, dm, bound, flag }'
    done
  done
done

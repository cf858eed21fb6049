#!/usr/bin/env bash
# Seeded faults: builds a copy of the tree at REF once, then for each fault
# below applies it, rebuilds, runs the tests and reports whether they caught
# it. A developer tool for judging the suite, not a CTest test.
#
# usage: tests/mutate.sh [-s] [-l LABEL] [-o IDS] [REF]
#   REF       commit to check out into a temporary copy (default HEAD)
#   -s        link the repository's ../shared beside the copy (vectors, corpus);
#             without it the copy sees what a fresh clone sees
#   -l LABEL  run only tests with this CTest label (default quick; "" runs all)
#   -o IDS    only these faults (comma-separated ids)
#   -b        skip the unmutated run (when it is known to pass)
set -uo pipefail

repo=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
shared=0
label=quick
only=
baseline=1
while getopts "sl:o:b" opt; do
  case $opt in
    s) shared=1 ;;
    l) label=$OPTARG ;;
    o) only=",$OPTARG," ;;
    b) baseline=0 ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
ref=${1:-HEAD}

# id | file | sed expression | what the fault breaks
faults=(
  "model-escape-step|src/model/model.cpp|s/x.esc = static_cast<uint16_t>(x.esc + 4);/x.esc = static_cast<uint16_t>(x.esc + 5);/|escape cell counts a miss as 5"
  "model-escape-cap|src/model/model.cpp|s/(cellSum < 80) ? 300 :/(cellSum < 80) ? 299 :/|young cell caps the escape at 299"
  "model-halve-small|src/model/model.cpp|s/k->numSymbols <= 2 \&\& k->sumFreq > 180/k->numSymbols <= 2 \&\& k->sumFreq > 181/|small context halves one step late"
  "rc-bottom|src/entropy/range_coder.h|s/kRangeBottom = 1u << 15;/kRangeBottom = 1u << 16;/|coder bottom 2^16 on both sides"
  "rc-flush|src/entropy/range_coder.h|/void flush()/,/}/s/i < 4/i < 3/|encoder flushes three bytes"
  "rc-shrink|src/entropy/range_coder.h|0,/(kRangeBottom - 1)/s/(kRangeBottom - 1)/(kRangeBottom - 2)/|encoder shrinks the range to the wrong mask"
  "cum-halve-carry|src/entropy/cumulative_table.h|s/e += 2;/e += 1;/|halving carries a wrong correction"
  "cum-limit|src/entropy/cumulative_table.h|s/if (c_\[N - 1\] > limit)/if (c_[N - 1] >= limit)/|tables halve at the limit, not above it"
  "cum-search|src/entropy/cumulative_table.h|s/c_\[k\]) <= v) ++k;/c_[k]) < v) ++k;/|decoder's symbol search is off by one"
  "e8-wrap|src/stages/e8.h|s/return v + 1 - size;/return v - size;/|e8 forward wrap off by one"
  "interleave-give-up|src/stages/interleave.h|s/repeatMisses_ >= repeatHits_/repeatMisses_ > repeatHits_/|smart interleaving keeps going on a tie"
  "interleave-rescale|src/stages/interleave.h|s/if (total <= kRepeatLimit) return;/if (total <= kRepeatLimit + 1) return;/|repeat model rescales late"
  "text-block|src/text/text_encoder.cpp|s/kBlockTarget = 0x20000;/kBlockTarget = 0x20001;/|text blocks cut one byte late"
  "text-caps-run|src/text/text_encoder.cpp|s/kClasses.isUpper\[ch3\] \&\& n < 254/kClasses.isUpper[ch3] \&\& n < 253/|capital runs end one early"
  "text-punctuation|src/text/char_classes.h|s/kPunctuationCount = 13;/kPunctuationCount = 12;/|last punctuation mark treated as a plain delimiter"
  "header-width|src/container/header.cpp|s/constexpr int kMaxWrapWidth = 99;/constexpr int kMaxWrapWidth = 100;/|line width 100 accepted"
  "header-pseudo|src/container/header.cpp|s/if (s.pseudoOrder != 0 \&\& s.order != 7) badHeader();//|pseudo order accepted below order 7"
  "header-rle-bits|src/container/header.cpp|s/kRunLength4 = 1, kRunLength3 = 2/kRunLength4 = 2, kRunLength3 = 1/|run-length bits swapped in the writer"
)

work=$(mktemp -d /tmp/velt-mutate-XXXXXX)
echo "work dir $work; tree $ref; shared ${shared}; label '${label}'"
mkdir -p "$work/velt"
git -C "$repo" archive "$ref" | tar -x -C "$work/velt"
[ "$shared" = 1 ] && ln -s "$(cd "$repo/.." && pwd)/shared" "$work/shared"
cd "$work/velt" || exit 2

build() { cmake --build build -j2 >"$work/build.log" 2>&1; }

# Runs the chosen tests in their own process group so a hung mutant can be
# stopped whole; returns ctest's status, 124 on the time limit. The
# known-answer tests go first: they catch most faults, and fastest.
runTests() {
  runCtest -R 'Golden|Vectors' && runCtest -E 'Golden|Vectors'
}

runCtest() {
  local args=(--test-dir build -j2 --stop-on-failure "$@")
  [ -n "$label" ] && args+=(-L "$label")
  # Without cost data ctest keeps the listed order, so a failure stops the run early.
  rm -f build/Testing/Temporary/CTestCostData.txt
  setsid ctest "${args[@]}" >>"$work/test.log" 2>&1 &
  local pid=$!
  (sleep 1200 && kill -KILL -- -"$pid" 2>/dev/null) &
  local watcher=$!
  wait "$pid"
  local rc=$?
  kill "$watcher" 2>/dev/null
  wait "$watcher" 2>/dev/null
  [ "$rc" -gt 128 ] && rc=124
  return "$rc"
}

firstFailures() {
  grep -E '\*\*\*(Failed|Timeout|Exception)|SEGFAULT|Child aborted|Subprocess' "$work/test.log" |
    sed -E 's/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: ([^ ]+).*\*\*\*(\w+).*/\1 (\2)/' | head -2 | tr '\n' ' '
}

cmake -S . -B build >"$work/configure.log" 2>&1 || { echo "configure failed"; exit 2; }
build || { echo "unmutated build failed: $work/build.log"; exit 2; }
start=$(date +%s)
if [ "$baseline" = 1 ]; then
  runTests || { echo "unmutated tests fail; fix them first: $work/test.log"; exit 2; }
  echo "unmutated: tests pass in $(($(date +%s) - start)) s"
fi

caught=0 total=0
for entry in "${faults[@]}"; do
  IFS='|' read -r id file expr what <<<"$entry"
  [ -n "$only" ] && [[ $only != *",$id,"* ]] && continue
  total=$((total + 1))
  : >"$work/test.log"
  cp "$file" "$work/original"
  sed -i "$expr" "$file"
  if cmp -s "$file" "$work/original"; then
    printf '%-20s NOT APPLIED  (%s no longer matches)\n' "$id" "$file"
    continue
  fi
  start=$(date +%s)
  if ! build; then
    printf '%-20s NO BUILD     %s\n' "$id" "$what"
  elif runTests; then
    printf '%-20s MISSED       %s (%d s)\n' "$id" "$what" $(($(date +%s) - start))
  else
    caught=$((caught + 1))
    printf '%-20s CAUGHT       %s (%d s) by %s\n' "$id" "$what" $(($(date +%s) - start)) \
      "$(firstFailures)"
  fi
  cp "$work/original" "$file"
done
build
echo "caught $caught of $total"
rm -rf "$work"

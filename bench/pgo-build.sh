#!/usr/bin/env bash
# Builds a profile-guided velt: an instrumented build first, trained by
# compressing and restoring the inputs in tests/data (English, Russian,
# binary, and the instrumented program itself as an executable) at orders 4
# to 8, then the final build from that profile, checked by round trips of the
# same inputs. It writes the same bytes as the plain build, in about 5% fewer
# instructions (bench/README.md). Packagers' step: the README's build stays
# the plain one.
# Usage: bench/pgo-build.sh [BUILD_DIR] [cmake arguments...]
#   BUILD_DIR defaults to build-pgo in the repository; the program ends up
#   in BUILD_DIR/velt. The compiler is CMake's choice (CXX=clang++ for clang,
#   which needs llvm-profdata; LLVM_PROFDATA names another one).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-pgo}
shift $(($# > 0 ? 1 : 0))
data=$root/tests/data
jobs=$(nproc 2>/dev/null || echo 2)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

inputs=("$data"/text/alice29.txt "$data"/text/cp.html "$data"/ru/derzhavin.866
  "$data"/ru/rachinskii-48k.866 "$data"/binary/kennedy-64k.xls "$data"/binary/ptt5-mid-48k
  "$data"/binary/sum)

# Runs "velt e SWITCHES FILE" and "velt d" for every input and switch set; with
# check, the restored file must equal the input.
round_trips() {
  local velt=$1 check=$2 f sw
  for f in "${inputs[@]}" "${extra[@]}"; do
    for sw in -o4 -o5 -o6 -o8 "-da -o5"; do
      # shellcheck disable=SC2086  # sw holds one or two switches
      "$velt" e $sw "$f" "$work/x.velt" >/dev/null
      "$velt" d "$work/x.velt" "$work/x.out" >/dev/null
      if [ "$check" = check ] && ! cmp -s "$f" "$work/x.out"; then
        echo "pgo-build: round trip of $f ($sw) differs" >&2
        exit 1
      fi
    done
  done
}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVELT_PGO=generate "$@"
# A profile left by an earlier run would be added to this one.
find "$build" -name '*.gcda' -delete
rm -rf "$build/pgo"
mkdir -p "$build/pgo"
cmake --build "$build" -j"$jobs" --target velt
cp "$build/velt" "$work/exe"
extra=("$work/exe")
round_trips "$build/velt" train

if compgen -G "$build/pgo/*.profraw" >/dev/null; then
  "${LLVM_PROFDATA:-llvm-profdata}" merge -o "$build/pgo/velt.profdata" "$build"/pgo/*.profraw
fi
cmake -S "$root" -B "$build" -DVELT_PGO=use
cmake --build "$build" -j"$jobs" --target velt
round_trips "$build/velt" check
echo "pgo-build: $build/velt built from its profile; round trips OK"

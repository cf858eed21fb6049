#!/usr/bin/env bash
# Quick check that the fuzz targets still build and hold on their seeds:
# builds both, makes the seed corpora, replays every seed and runs a few
# hundred fixed-seed mutations per target. Used by .ci/run; fuzz/run.sh is
# for real fuzzing sessions.
#   fuzz/smoke.sh [path/to/velt]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cmake -S "$root/fuzz" -B "$root/build-fuzz" -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$root/build-fuzz" -j2
"$root/fuzz/make_seeds.sh" "$@"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:suppressions=$root/fuzz/ubsan.supp"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
for name in decode roundtrip; do
  # New units go to a scratch folder, so the seed corpus stays as made.
  mkdir -p "$work/$name"
  if ! "$root/build-fuzz/${name}_fuzzer" "$work/$name" "$root/fuzz/corpus-$name" -seed=1 \
    -runs=400 -max_len=4096 -timeout=60 -rss_limit_mb=4096 -artifact_prefix="$work/$name-" \
    >"$work/$name.log" 2>&1; then
    tail -n 40 "$work/$name.log"
    echo "fuzz smoke: $name target FAILED" >&2
    exit 1
  fi
  grep -E '^(INFO: seed corpus|Done)' "$work/$name.log" || true
  echo "fuzz smoke: $name target passed"
done

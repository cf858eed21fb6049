#!/usr/bin/env bash
# Builds a fuzz target (clang, libFuzzer, ASan + UBSan) and runs it.
#   fuzz/run.sh decode|roundtrip SECONDS [extra libFuzzer flags...]
# Seeds come from fuzz/make_seeds.sh (run first if the corpus is missing).
# Findings land in fuzz/artifacts/; the grown corpus stays in fuzz/corpus-NAME.
# The log goes to fuzz/artifacts/NAME.log. Runs at nice 10 with one job.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
name="${1:?target: decode or roundtrip}"
seconds="${2:?seconds to run}"
shift 2
case "$name" in decode | roundtrip) ;; *) echo "unknown target $name" >&2; exit 2 ;; esac

cmake -S "$root/fuzz" -B "$root/build-fuzz" -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$root/build-fuzz" -j2 --target "${name}_fuzzer" >/dev/null
corpus="$root/fuzz/corpus-$name"
[[ -d "$corpus" && -n "$(ls -A "$corpus")" ]] || "$root/fuzz/make_seeds.sh"
mkdir -p "$root/fuzz/artifacts"
# Every UBSan report is fatal except the known ones listed in ubsan.supp.
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:suppressions=$root/fuzz/ubsan.supp"
# Model memory is up to 50 MB per decode; allow for ASan's shadow on top.
exec nice -n 10 "$root/build-fuzz/${name}_fuzzer" "$corpus" \
  -max_total_time="$seconds" -timeout=60 -rss_limit_mb=4096 -max_len=8192 \
  -artifact_prefix="$root/fuzz/artifacts/$name-" -print_final_stats=1 "$@" \
  2>&1 | tee "$root/fuzz/artifacts/$name.log"

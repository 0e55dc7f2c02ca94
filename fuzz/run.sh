#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each in turn, starting from the seeds
# under fuzz/seeds. Any crash, hang, leak or sanitizer report stops the run
# with a non-zero status.
#   bash fuzz/run.sh [seconds per target] [target...]
#   SKARN_FUZZ_DIR      build folder (default: build-fuzz)
#   SKARN_FUZZ_SECONDS  seconds per target when not given (default: 30)
#   SKARN_FUZZ_RUNS     stop each target after this many executions instead
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${SKARN_FUZZ_DIR:-build-fuzz}
secs=${1:-${SKARN_FUZZ_SECONDS:-30}}
shift $(( $# > 0 ? 1 : 0 ))
targets=${*:-request response multipart qp reader roundtrip}
limit="-max_total_time=$secs"
[ -n "${SKARN_FUZZ_RUNS:-}" ] && limit="-runs=$SKARN_FUZZ_RUNS"
cmake -S fuzz -B "$dir" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" -j 2
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
for t in $targets; do
  corpus="$dir/corpus/$t"
  mkdir -p "$corpus"
  log="$dir/fuzz_$t.log"
  echo "-- fuzz_$t ($limit)"
  if ! "$dir/fuzz_$t" "$limit" -timeout=10 -rss_limit_mb=2048 -max_len=16384 \
       -print_final_stats=1 -artifact_prefix="$dir/" "$corpus" "fuzz/seeds/$t" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz_$t failed; the reproducer is named in the log above" >&2
    exit 1
  fi
  grep -aE 'stat::number_of_executed_units|stat::peak_rss_mb|writer/reader disagreement' "$log" | sed "s/^/fuzz_$t /"
done

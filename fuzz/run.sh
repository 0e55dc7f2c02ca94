#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each for a bounded time, starting from
# the seeds under fuzz/seeds. Any crash, hang, leak or sanitizer report stops
# the run with a non-zero status.
#   SKARN_FUZZ_DIR      build folder (default: build-fuzz)
#   SKARN_FUZZ_SECONDS  seconds per target (default: 30)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${SKARN_FUZZ_DIR:-build-fuzz}
secs=${SKARN_FUZZ_SECONDS:-30}
cmake -S fuzz -B "$dir" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" -j 2
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
for t in request response multipart qp; do
  corpus="$dir/corpus/$t"
  mkdir -p "$corpus"
  log="$dir/fuzz_$t.log"
  echo "-- fuzz_$t for ${secs}s"
  if ! "$dir/fuzz_$t" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 -max_len=16384 \
       -print_final_stats=1 -artifact_prefix="$dir/" "$corpus" "fuzz/seeds/$t" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz_$t failed; the reproducer is named in the log above" >&2
    exit 1
  fi
  grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' "$log" | sed "s/^/fuzz_$t /"
done

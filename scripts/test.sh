#!/usr/bin/env bash
# Builds the toolkit and runs the whole test suite.
#   SKARN_BUILD_DIR  build folder (default: build)
#   SKARN_SANITIZE   ON: AddressSanitizer and UndefinedBehaviorSanitizer, no recovery
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
dir=${SKARN_BUILD_DIR:-build}
san=${SKARN_SANITIZE:-OFF}
type=RelWithDebInfo
[ "$san" = ON ] && type=Debug
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE="$type" -DSKARN_SANITIZE="$san" -DSKARN_BUILD_BENCH=ON
cmake --build "$dir" -j "$(nproc)"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" --timeout 300

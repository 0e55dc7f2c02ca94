#!/usr/bin/env bash
# Builds the toolkit and runs the loopback demo: one SOAP exchange with
# attachments over a real TCP connection on 127.0.0.1.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
dir=${SKARN_BUILD_DIR:-build}
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" -j "$(nproc)" --target skarn_loopback_demo
"$dir/bin/skarn_loopback_demo"

#!/usr/bin/env bash
# Installs what building and testing the toolkit needs on Debian 12, if missing.
set -euo pipefail
# libclang-rt-14-dev holds clang's libFuzzer and sanitizer runtimes, which clang does not pull in.
# curl, python3 and openssl serve as independent peers in the interop tests;
# pkgconf builds the examples against the installed toolkit; CLI11 parses the tool's arguments;
# help2man makes the tool's man page from its --help; file serves CPack's shlibs step.
pkgs=(cmake g++ make libxerces-c-dev libssl-dev openssl libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev clang
      libclang-rt-14-dev
      curl python3 pkgconf help2man file)
# The server benchmark's load generators and reference servers (bench/server/run.sh):
# installed only when asked for with SKARN_BENCH_PEERS=1; building and testing need none of them.
bench_pkgs=(wrk nghttp2-client nginx-light gsoap libgsoap-dev python3 iproute2 openssl procps)
if [ "${SKARN_BENCH_PEERS:-0}" = 1 ]; then
  pkgs+=("${bench_pkgs[@]}")
fi
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

#!/usr/bin/env bash
# Builds the gSOAP echo peer without the toolkit's build: build.sh OUTDIR
# Needs soapcpp2 and libgsoapssl++ (Debian: gsoap, libgsoap-dev).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:?usage: build.sh OUTDIR}
mkdir -p "$out/gen"
command -v soapcpp2 >/dev/null || { echo "soapcpp2 not found (apt-get install gsoap libgsoap-dev)" >&2; exit 1; }
soapcpp2 -x -d "$out/gen" "$here/echo.h" >/dev/null
cxx=${CXX:-g++}
nice -n 5 "$cxx" -O2 -std=c++17 -DWITH_OPENSSL -I"$out/gen" -o "$out/gsoap_echo_server" \
  "$here/gsoap_echo_server.cpp" "$out/gen/soapC.cpp" "$out/gen/soapServer.cpp" -lgsoapssl++ -lssl -lcrypto -lz -lpthread
nice -n 5 "$cxx" -O2 -std=c++17 -DWITH_OPENSSL -I"$out/gen" -o "$out/gsoap_echo_client" \
  "$here/gsoap_echo_client.cpp" "$out/gen/soapC.cpp" "$out/gen/soapClient.cpp" -lgsoapssl++ -lssl -lcrypto -lz -lpthread
echo "$out/gsoap_echo_server"

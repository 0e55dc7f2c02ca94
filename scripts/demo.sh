#!/usr/bin/env bash
# The toolkit at work on loopback: builds the library and the `skarn` tool
# (showing the build's progress), starts `skarn serve` on a free port of
# 127.0.0.1, sends it an envelope with an attachment through `skarn call`,
# shows what each side saw and stops the server with SIGTERM.
#   SKARN_BUILD_DIR  build folder (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
dir=${SKARN_BUILD_DIR:-build}
echo "== configuring the build in $dir"
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# The build shows its progress, one line per step with CMake's percentage; a
# first build takes minutes, a later one only relinks what changed.
if [ ! -f tools/CMakeLists.txt ]; then
    echo "== this tree has no skarn tool: the minimal client and server show the exchange instead"
    echo "== building the library and the examples (the first time takes minutes)"
    cmake --build "$dir" -j "$(nproc)" --target minimal_client minimal_server
    exec bash examples/run-pair.sh "$dir/bin"
fi
echo "== building the library and the skarn tool (the first time takes minutes)"
cmake --build "$dir" -j "$(nproc)" --target skarn_tool
echo "== built: $dir/bin/skarn"
skarn=$dir/bin/skarn

work=$(mktemp -d)
server=
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$work"' EXIT
cat >"$work/request.xml" <<'XML'
<soap:Envelope xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/">
  <soap:Body><ex:Hello xmlns:ex="urn:skarn-example">hello over loopback</ex:Hello></soap:Body>
</soap:Envelope>
XML
printf 'id;name\r\n1;first\r\n2;second\r\n' >"$work/table.csv"

"$skarn" serve --port 0 --log >"$work/serve.out" 2>"$work/serve.err" &
server=$!
port=
for _ in $(seq 100); do
    port=$(head -n 1 "$work/serve.out")
    [ -n "$port" ] && break
    sleep 0.1
done
[ -n "$port" ] || { echo "skarn serve printed no port" >&2; cat "$work/serve.err" >&2; exit 1; }
url=http://127.0.0.1:$port/demo
echo "== skarn serve --port 0 --log: listening on 127.0.0.1:$port"
echo "== skarn call $url request.xml --attach 'table.csv;type=text/csv;id=table' --out back"
"$skarn" call "$url" "$work/request.xml" --attach "$work/table.csv;type=text/csv;id=table" --out "$work/back"
if cmp -s "$work/table.csv" "$work/back/table"; then
    echo "== the attachment came back byte for byte ($(wc -c <"$work/table.csv") bytes)"
else
    echo "== the attachment did not come back as sent" >&2
    exit 1
fi

kill -TERM "$server"
status=0
wait "$server" || status=$?
server=
echo "== what skarn serve saw (its log; it exited with status $status after SIGTERM)"
tail -n +2 "$work/serve.out"
cat "$work/serve.err"
[ "$status" = 0 ]

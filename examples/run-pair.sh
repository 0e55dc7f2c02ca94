#!/usr/bin/env bash
# Runs the minimal client against the minimal server on 127.0.0.1 and checks
# what each side saw, byte for byte: the server the client's text and
# attachment, the client the server's answer and the attachment sent back.
#   examples/run-pair.sh DIR      (DIR holds minimal_server and minimal_client)
set -euo pipefail
dir=$1
work=$(mktemp -d)
server=
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$work"' EXIT

# An attachment with line ends, a boundary-like line and bytes that are not text.
printf 'first line\r\n--=_boundary\r\n\0\001\377 last' >"$work/data"
"$dir/minimal_server" 0 1 >"$work/server.out" &
server=$!
port=
for _ in $(seq 100); do
    port=$(head -n 1 "$work/server.out")
    [ -n "$port" ] && break
    sleep 0.1
done
[ -n "$port" ] || { echo "the server printed no port" >&2; exit 1; }
timeout 30 "$dir/minimal_client" "http://127.0.0.1:$port/echo" "$work/data" >"$work/client.out"
timeout 10 tail --pid="$server" -f /dev/null
wait "$server"
server=

echo "== the server saw"
cat "$work/server.out"
echo "== the client saw"
cat -v "$work/client.out"

status=0
{
    echo "$port"
    echo "request text: hello from the minimal client"
    echo "request attachment file: $(wc -c <"$work/data") bytes"
} >"$work/server.expected"
{
    echo "status 200"
    printf 'envelope <soap:Envelope xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/"><soap:Body>'
    printf '<ex:Received xmlns:ex="urn:skarn-example">hello from the minimal client</ex:Received>'
    printf '</soap:Body></soap:Envelope>\nattachment file (application/octet-stream):\n'
    cat "$work/data"
    echo
} >"$work/client.expected"
for side in server client; do
    if ! cmp -s "$work/$side.expected" "$work/$side.out"; then
        echo "the $side's output differs from the expected:" >&2
        diff <(cat -v "$work/$side.expected") <(cat -v "$work/$side.out") >&2 || true
        status=1
    fi
done
[ "$status" = 0 ] && echo "== client and server exchanged every byte as sent"
exit "$status"

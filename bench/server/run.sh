#!/usr/bin/env bash
# Server benchmark: skarn serve (new and baseline builds) beside a gSOAP echo server
# and nginx, on loopback. docs/bench-server.md says what each scenario measures.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)

usage() {
  cat <<EOF
Usage: bench/server/run.sh [OPTIONS]

Servers and scenarios
  --servers LIST        comma-separated, from: skarn baseline gsoap nginx   [$servers]
  --scenarios LIST      comma-separated, from: keepalive-8 keepalive-1000 idle trickle tls
                        (keepalive-N for any N works too)                    [$scenarios]
  --results DIR         where results.json, results.tsv and logs go
                        [$repo/build-bench/server-<time>]
Binaries
  --skarn BIN           the skarn under test                                 [$skarn_bin]
  --baseline BIN        today's skarn, the reference for keepalive-8         [$baseline_bin]
  --gsoap BIN           gsoap_echo_server (built from bench/gsoap if not given and not in build/bin)
  --skarn-args "ARGS"   extra options for skarn serve (new)
  --baseline-args "ARGS" extra options for skarn serve (baseline)
  --nginx-workers N     nginx worker_processes                               [$nginx_workers]
Keep-alive scenarios (wrk)
  --duration S          seconds per run                                      [$duration]
  --wrk-threads N                                                            [$wrk_threads]
  --wrk-timeout S       wrk's --timeout                                     [$wrk_timeout]
  --repeat N            run each keep-alive scenario N times, the servers taking
                        turns; comparisons use the medians                   [$repeat]
Idle connections
  --idle-conns N                                                             [$idle_conns]
  --idle-hold S         seconds they stay idle before each sends a request   [$idle_hold]
Tricklers
  --tricklers N  --silent N  --normal-requests N     [$tricklers $silent $normal_requests]
TLS
  --tls-client KIND     h2load: open loop, a new connection every 1/RATE s, each one
                        request then close (falls back to python if h2load is missing);
                        python: TLS_WORKERS connections in a closed loop  [$tls_client]
  --tls-rate R          connections offered per second (h2load), rounded to tens [$tls_rate]
  --tls-seconds S  --tls-workers N                   [$tls_seconds $tls_workers]
  --delay-ms MS         one-way delay; the round trip is twice this          [$delay_ms]
  --delay-line KIND     auto, netem (tc in a network namespace) or relay     [$delay_line]
Other
  --quick               short runs for trying the harness: 3 s wrk runs, 2,000 idle
                        connections, 200+200 held connections, 50 requests, 5 s TLS
  -h, --help
EOF
}

servers=skarn,baseline,gsoap,nginx
scenarios=keepalive-8,keepalive-1000,idle,trickle,tls
results=""
skarn_bin=$repo/build/bin/skarn
baseline_bin=${SKARN_BASELINE:-/work/baseline/skarn}
gsoap_bin=""
skarn_args=""
baseline_args=""
nginx_workers=auto
duration=10
wrk_threads=2
wrk_timeout=5
repeat=1
idle_conns=10000
idle_hold=5
tricklers=1000
silent=1000
normal_requests=200
settle=3
tls_seconds=10
tls_workers=64
tls_rate=150
tls_client=h2load
delay_ms=25
delay_line=auto

while [ $# -gt 0 ]; do
  case $1 in
    --servers) servers=$2; shift ;;
    --scenarios) scenarios=$2; shift ;;
    --results) results=$2; shift ;;
    --skarn) skarn_bin=$2; shift ;;
    --baseline) baseline_bin=$2; shift ;;
    --gsoap) gsoap_bin=$2; shift ;;
    --skarn-args) skarn_args=$2; shift ;;
    --baseline-args) baseline_args=$2; shift ;;
    --nginx-workers) nginx_workers=$2; shift ;;
    --duration) duration=$2; shift ;;
    --wrk-threads) wrk_threads=$2; shift ;;
    --wrk-timeout) wrk_timeout=$2; shift ;;
    --repeat) repeat=$2; shift ;;
    --idle-conns) idle_conns=$2; shift ;;
    --idle-hold) idle_hold=$2; shift ;;
    --tricklers) tricklers=$2; shift ;;
    --silent) silent=$2; shift ;;
    --normal-requests) normal_requests=$2; shift ;;
    --tls-seconds) tls_seconds=$2; shift ;;
    --tls-workers) tls_workers=$2; shift ;;
    --tls-rate) tls_rate=$2; shift ;;
    --tls-client) tls_client=$2; shift ;;
    --delay-ms) delay_ms=$2; shift ;;
    --delay-line) delay_line=$2; shift ;;
    --quick) duration=3; wrk_timeout=2; idle_conns=2000; idle_hold=2; tricklers=200; silent=200
             normal_requests=50; settle=2; tls_seconds=5 ;;
    -h|--help) usage; exit 0 ;;
    *) echo "unknown option: $1" >&2; usage >&2; exit 2 ;;
  esac
  shift
done

say() { printf '[%s] %s\n' "$(date +%H:%M:%S)" "$*"; }
has() { case ",$1," in *",$2,"*) return 0 ;; esac; return 1; }

for tool in python3 curl; do
  command -v $tool >/dev/null || { echo "$tool is needed" >&2; exit 2; }
done

[ -n "$results" ] || results=$repo/build-bench/server-$(date +%Y%m%dT%H%M%S)
mkdir -p "$results/logs" || exit 2
results=$(cd "$results" && pwd)
logs=$results/logs
jsonl=$results/results.jsonl
: >"$jsonl"
body=$here/request-1k.xml

# Each side of a run may hold more than 10,000 descriptors.
ulimit -n "$(ulimit -Hn)" 2>/dev/null
fd_limit=$(ulimit -n)
need_fds=$(( idle_conns > tricklers + silent ? idle_conns : tricklers + silent ))
if [ "$fd_limit" != unlimited ] && [ "$fd_limit" -lt $(( need_fds + 200 )) ]; then
  say "WARNING: open-file limit is $fd_limit, below the $(( need_fds + 200 )) the held connections need: expect connect errors"
fi

# Machine state, so that figures from a busy machine can be told apart.
python3 - "$results/meta.json" "$fd_limit" "$servers" "$scenarios" "$skarn_bin" "$baseline_bin" \
  "$skarn_args" "$baseline_args" <<'EOF'
import json, os, platform, subprocess, sys, time
def sh(c):
    try: return subprocess.run(c, shell=True, capture_output=True, text=True, timeout=10).stdout.strip()
    except Exception: return ""
keys = ["fd_limit", "servers", "scenarios", "skarn", "baseline", "skarn_args", "baseline_args"]
m = {"started": time.strftime("%Y-%m-%dT%H:%M:%S%z"), "host_cpus": os.cpu_count(),
     "kernel": platform.release(), "uptime_at_start": sh("uptime")}
m.update(zip(keys, sys.argv[2:]))
json.dump(m, open(sys.argv[1], "w"), indent=1)
EOF
say "machine: $(nproc) cpus, $(uptime)"
say "results: $results"

# ---------------------------------------------------------------- servers
srv_pid=""
srv_port=""
srv_ns=""
relay_pid=""
netns=""

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

in_ns() {  # runs a command in the benchmark's network namespace when there is one
  if [ -n "$srv_ns" ]; then ip netns exec "$srv_ns" "$@"; else "$@"; fi
}

wait_port() {  # PORT PID: waits until something accepts on PORT, as long as PID lives
  for _ in $(seq 1 300); do
    kill -0 "$2" 2>/dev/null || return 1
    in_ns python3 -c "import socket,sys; socket.create_connection(('127.0.0.1', $1), 0.2).close()" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

wait_first_line() {  # FILE PID: prints the first line of FILE once written
  for _ in $(seq 1 100); do
    if [ -s "$1" ] && head -1 "$1" | grep -q '^[0-9][0-9]*$'; then head -1 "$1"; return 0; fi
    kill -0 "$2" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

nginx_conf() {  # DIR PORT MODE
  python3 - "$1" "$2" "$3" "$body" "$nginx_workers" "$fd_limit" <<'EOF'
import sys
d, port, mode, body_file, workers, fds = sys.argv[1:]
body = open(body_file).read().rstrip("\n")
assert not any(c in body for c in "'$\\"), "body cannot be quoted for nginx"
nofile = 20000 if fds == "unlimited" else int(fds)
listen = f"listen 127.0.0.1:{port} ssl backlog=4096;" if mode == "tls" else f"listen 127.0.0.1:{port} backlog=4096;"
tls = (f"ssl_certificate {d}/../cert.pem; ssl_certificate_key {d}/../key.pem;\n"
       "    ssl_protocols TLSv1.2 TLSv1.3; ssl_session_cache off; ssl_session_tickets off;") if mode == "tls" else ""
open(f"{d}/nginx.conf", "w").write(f"""
worker_processes {workers};
worker_rlimit_nofile {nofile};
pid {d}/nginx.pid;
error_log {d}/error.log warn;
events {{ worker_connections {max(1024, nofile - 100)}; }}
http {{
  access_log off;
  client_body_temp_path {d}/body;
  proxy_temp_path {d}/proxy;
  fastcgi_temp_path {d}/fastcgi;
  uwsgi_temp_path {d}/uwsgi;
  scgi_temp_path {d}/scgi;
  keepalive_requests 100000000;
  keepalive_timeout 120s;
  server {{
    {listen}
    {tls}
    location / {{
      default_type "text/xml; charset=utf-8";
      return 200 '{body}';
    }}
  }}
}}
""")
EOF
}

start_server() {  # NAME MODE(plain|tls): sets srv_pid and srv_port
  local name=$1 mode=$2 out=$logs/$1-$2-$3.out err=$logs/$1-$2-$3.err
  local pre=(nice -n 5)
  [ -n "$srv_ns" ] && pre=(ip netns exec "$srv_ns" nice -n 5)
  srv_pid=""
  srv_port=""
  rm -f "$out" "$err"
  case $name in
    skarn|baseline)
      local bin=$skarn_bin extra=$skarn_args
      [ "$name" = baseline ] && bin=$baseline_bin && extra=$baseline_args
      local args=(serve --port 0 --bind 127.0.0.1)
      [ "$mode" = tls ] && args+=(--tls-cert "$results/cert.pem" --tls-key "$results/key.pem")
      # shellcheck disable=SC2206
      args+=($extra)
      "${pre[@]}" env LD_LIBRARY_PATH="$(dirname "$bin")" "$bin" "${args[@]}" >"$out" 2>"$err" &
      srv_pid=$!
      srv_port=$(wait_first_line "$out" "$srv_pid") || { say "$name did not start: $(tail -3 "$err")"; stop_server; return 1; }
      ;;
    gsoap)
      [ "$mode" = tls ] && { say "the gSOAP peer has no TLS build"; return 1; }
      srv_port=$(free_port)
      "${pre[@]}" "$gsoap_bin" "$srv_port" >"$out" 2>"$err" &
      srv_pid=$!
      wait_first_line "$out" "$srv_pid" >/dev/null || { say "gsoap did not start: $(tail -3 "$err")"; stop_server; return 1; }
      ;;
    nginx)
      local d=$results/nginx-$mode
      mkdir -p "$d"
      srv_port=$(free_port)
      nginx_conf "$d" "$srv_port" "$mode" || return 1
      "${pre[@]}" nginx -p "$d" -c "$d/nginx.conf" -e "$d/error.log" -g 'daemon off;' >"$out" 2>"$err" &
      srv_pid=$!
      ;;
    *) say "unknown server $name"; return 1 ;;
  esac
  wait_port "$srv_port" "$srv_pid" || { say "$name is not listening on $srv_port: $(tail -3 "$err")"; stop_server; return 1; }
  say "started $name ($mode) pid $srv_pid port $srv_port"
}

stop_server() {
  [ -n "$srv_pid" ] || return 0
  kill -TERM "$srv_pid" 2>/dev/null
  local tries=50
  while [ $tries -gt 0 ] && kill -0 "$srv_pid" 2>/dev/null; do
    sleep 0.1
    tries=$(( tries - 1 ))
  done
  kill -KILL "$srv_pid" 2>/dev/null
  wait "$srv_pid" 2>/dev/null
  srv_pid=""
}

stop_relay() {
  [ -n "$relay_pid" ] || return 0
  kill -TERM "$relay_pid" 2>/dev/null
  wait "$relay_pid" 2>/dev/null
  relay_pid=""
}

cleanup() {
  stop_relay
  stop_server
  [ -n "$netns" ] && ip netns del "$netns" 2>/dev/null
}
trap cleanup EXIT
trap 'exit 130' INT TERM

check_answer() {  # SCHEME PORT: one request must come back 200 with the echoed text
  local scheme=$1 port=$2 code
  code=$(in_ns curl -sk --max-time 10 -o "$logs/check.body" -w '%{http_code}' \
    -H 'Content-Type: text/xml; charset=utf-8' -H 'SOAPAction: ""' --data-binary @"$body" \
    "$scheme://127.0.0.1:$port/")
  if [ "$code" != 200 ] || ! grep -q abcdefghijklmnopqrstuvwxyz0123456789 "$logs/check.body"; then
    say "check request: status $code, answer $(head -c 200 "$logs/check.body")"
    return 1
  fi
}

record() {  # SCENARIO SERVER FIGURES_FILE [report.py add options]
  local scenario=$1 server=$2 fig=$3
  shift 3
  python3 "$here/report.py" add "$jsonl" --scenario "$scenario" --server "$server" --figures "$fig" "$@"
  python3 "$here/report.py" last "$jsonl"
}

# ---------------------------------------------------------------- scenarios
run_keepalive() {  # SERVER CONNS REPETITION
  local name=$1 conns=$2 rep=$3 scen=keepalive-$2 fig=$logs/$1-keepalive-$2-$3.json
  command -v wrk >/dev/null || { say "wrk not installed"; return; }
  start_server "$name" plain "$scen" || { record "$scen" "$name" "" --error "server did not start"; return; }
  if ! check_answer http "$srv_port"; then
    stop_server; record "$scen" "$name" "" --error "check request failed"; return
  fi
  local before after
  before=$(python3 "$here/procstat.py" "$srv_pid")
  rm -f "$logs/wrk.json"
  # Which connections are answered at all: sampled over most of the run.
  local first second
  first=$(awk -v d="$duration" 'BEGIN { x = 0.2 * d; if (x < 1) x = 1; print x }')
  second=$(awk -v d="$duration" 'BEGIN { print 0.7 * d }')
  python3 "$here/connwatch.py" --port "$srv_port" --start "$(date +%s.%N)" --first "$first" --second "$second" \
    >"$logs/$name-$scen-$rep.watch" 2>&1 &
  local watch_pid=$!
  BENCH_BODY=$body BENCH_JSON=$logs/wrk.json timeout -k 5 $(( duration + 60 )) \
    nice -n 5 wrk -t"$wrk_threads" -c"$conns" -d"${duration}s" --latency --timeout "${wrk_timeout}s" \
    -s "$here/post.lua" "http://127.0.0.1:$srv_port/" >"$logs/$name-$scen-$rep.wrk" 2>&1
  local rc=$?
  after=$(python3 "$here/procstat.py" "$srv_pid")
  wait "$watch_pid"
  stop_server
  python3 - "$logs/wrk.json" "$before" "$after" "$logs/$name-$scen-$rep.watch" >"$fig" <<'EOF'
import json, sys
try:
    w = json.load(open(sys.argv[1]))
except (OSError, ValueError):
    sys.exit(0)
try:
    w.update(json.loads(open(sys.argv[4]).read().strip().splitlines()[-1]))
except (OSError, ValueError, IndexError):
    pass
b, a = json.loads(sys.argv[2]), json.loads(sys.argv[3])
cpu = a["cpu_s"] - b["cpu_s"]
w.update({"server_cpu_s": round(cpu, 2),
          "cpu_us_per_exchange": round(1e6 * cpu / w["requests"], 1) if w["requests"] else None,
          "hwm_mb": round(a["hwm_kb"] / 1024, 1), "rss_end_mb": round(a["rss_kb"] / 1024, 1),
          "server_threads": a["threads"], "server_procs": a["procs"]})
print(json.dumps(w))
EOF
  local err=()
  [ $rc -eq 0 ] || err=(--error "wrk exit status $rc")
  record "$scen" "$name" "$fig" --param "conns=$conns" --param "duration=$duration" --param "run=$rep" \
    --param "wrk_threads=$wrk_threads" --param "wrk_timeout=$wrk_timeout" "${err[@]}"
}

run_idle() {
  local name=$1 fig=$logs/$1-idle.json
  start_server "$name" plain idle || { record idle "$name" "" --error "server did not start"; return; }
  if ! check_answer http "$srv_port"; then
    stop_server; record idle "$name" "" --error "check request failed"; return
  fi
  timeout -k 5 $(( 60 + ${idle_hold%.*} + 20 + 60 )) nice -n 5 python3 "$here/idle_conns.py" --port "$srv_port" \
    --body "$body" --conns "$idle_conns" --hold "$idle_hold" --connect-budget 60 --answer-timeout 20 \
    --server-pid "$srv_pid" >"$fig" 2>"$logs/$name-idle.err"
  local rc=$?
  stop_server
  local err=()
  [ $rc -eq 0 ] || err=(--error "client exit status $rc: $(tail -1 "$logs/$name-idle.err")")
  record idle "$name" "$fig" --param "conns=$idle_conns" --param "hold=$idle_hold" "${err[@]}"
}

run_trickle() {
  local name=$1 fig=$logs/$1-trickle.json
  start_server "$name" plain trickle || { record trickle "$name" "" --error "server did not start"; return; }
  if ! check_answer http "$srv_port"; then
    stop_server; record trickle "$name" "" --error "check request failed"; return
  fi
  timeout -k 5 $(( 60 + settle + 60 + 60 )) nice -n 5 python3 "$here/trickle.py" --port "$srv_port" \
    --body "$body" --tricklers "$tricklers" --silent "$silent" --requests "$normal_requests" \
    --settle "$settle" --request-timeout 5 --budget 60 --server-pid "$srv_pid" >"$fig" 2>"$logs/$name-trickle.err"
  local rc=$?
  stop_server
  local err=()
  [ $rc -eq 0 ] || err=(--error "client exit status $rc: $(tail -1 "$logs/$name-trickle.err")")
  record trickle "$name" "$fig" --param "tricklers=$tricklers" --param "silent=$silent" \
    --param "requests=$normal_requests" "${err[@]}"
}

tls_line=""
setup_delay_line() {  # chooses netem or relay once
  [ -n "$tls_line" ] && return 0
  if [ "$delay_line" = auto ] || [ "$delay_line" = netem ]; then
    local ns=skarnbench$$
    if ip netns add "$ns" 2>"$logs/netem.err"; then
      netns=$ns
      if ip netns exec "$ns" ip link set lo up 2>>"$logs/netem.err" &&
         ip netns exec "$ns" tc qdisc add dev lo root netem delay "${delay_ms}ms" 2>>"$logs/netem.err"; then
        tls_line=netem
        say "delay line: netem ${delay_ms}ms on lo in network namespace $ns"
        return 0
      fi
      ip netns del "$ns" 2>/dev/null
      netns=""
    fi
    say "netem delay line not available here: $(tr '\n' ' ' <"$logs/netem.err")"
    if [ "$delay_line" = netem ]; then
      return 1
    fi
  fi
  tls_line=relay
  say "delay line: relay holding each direction ${delay_ms}ms"
}

run_tls() {
  local name=$1 fig=$logs/$1-tls.json
  if [ "$name" = gsoap ]; then
    say "tls: skipped for gsoap (the peer is built without TLS)"
    return
  fi
  setup_delay_line || { record tls "$name" "" --error "netem delay line not available"; return; }
  [ "$tls_line" = netem ] && srv_ns=$netns
  if ! start_server "$name" tls tls; then
    srv_ns=""; record tls "$name" "" --error "server did not start"; return
  fi
  local port=$srv_port
  if [ "$tls_line" = relay ]; then
    nice -n 5 python3 "$here/delay_relay.py" --target-port "$srv_port" --delay-ms "$delay_ms" \
      >"$logs/relay.out" 2>"$logs/relay.err" &
    relay_pid=$!
    port=$(wait_first_line "$logs/relay.out" "$relay_pid") || {
      stop_server; stop_relay; record tls "$name" "" --error "relay did not start"; return; }
  fi
  # One timed exchange through the line shows the delay is there.
  local line_ms
  line_ms=$(in_ns curl -sk --max-time 10 -o /dev/null -w '%{time_total}' -H 'Content-Type: text/xml; charset=utf-8' \
    --data-binary @"$body" "https://127.0.0.1:$port/" | python3 -c 'import sys; print(round(float(sys.stdin.read() or 0)*1000))')
  if ! check_answer https "$port"; then
    stop_relay; stop_server; srv_ns=""; record tls "$name" "" --error "check request failed"; return
  fi
  # A new TLS connection and one request take at least two round trips over a working line.
  local line_err=()
  if [ "${line_ms:-0}" -lt $(( 4 * ${delay_ms%.*} )) ]; then
    say "delay line not in effect: one exchange took ${line_ms}ms"
    line_err=(--error "delay line not in effect: one exchange took ${line_ms}ms")
  fi
  local ns_pre=()
  [ -n "$srv_ns" ] && ns_pre=(ip netns exec "$srv_ns")
  local before after relay_before="" relay_after="" rc client=$tls_client
  [ "$client" = h2load ] && ! command -v h2load >/dev/null && client=python
  before=$(python3 "$here/procstat.py" "$srv_pid")
  [ -n "$relay_pid" ] && relay_before=$(python3 "$here/procstat.py" "$relay_pid")
  if [ "$client" = h2load ]; then
    # Open loop: a new connection every 1/RATE s, each making one request and closing.
    local per_tick=$(( (tls_rate + 5) / 10 ))
    [ $per_tick -ge 1 ] || per_tick=1
    local offered=$(( per_tick * 10 )) total=$(( per_tick * 10 * ${tls_seconds%.*} ))
    timeout -k 5 $(( ${tls_seconds%.*} + 60 )) "${ns_pre[@]}" nice -n 5 h2load --h1 -t 1 -c "$total" -n "$total" \
      -r "$per_tick" --rate-period 100ms -N 15s -d "$body" -H 'Content-Type: text/xml; charset=utf-8' \
      -H 'SOAPAction: ""' "https://127.0.0.1:$port/" >"$logs/$name-tls.h2load" 2>&1
    rc=$?
    python3 "$here/h2load_json.py" --offered-rate "$offered" <"$logs/$name-tls.h2load" >"$fig.client"
  else
    timeout -k 5 $(( ${tls_seconds%.*} + 60 )) "${ns_pre[@]}" nice -n 5 python3 "$here/tls_rate.py" --port "$port" \
      --body "$body" --seconds "$tls_seconds" --workers "$tls_workers" >"$fig.client" 2>"$logs/$name-tls.err"
    rc=$?
  fi
  after=$(python3 "$here/procstat.py" "$srv_pid")
  [ -n "$relay_pid" ] && relay_after=$(python3 "$here/procstat.py" "$relay_pid")
  python3 - "$fig.client" "$before" "$after" "$relay_before" "$relay_after" >"$fig" <<'EOF'
import json, sys
try:
    f = json.loads(open(sys.argv[1]).read().strip().splitlines()[-1])
except (OSError, ValueError, IndexError):
    sys.exit(0)
b, a = json.loads(sys.argv[2]), json.loads(sys.argv[3])
cpu = a["cpu_s"] - b["cpu_s"]
n = f.get("connections") or 0
f.update({"server_cpu_s": round(cpu, 2), "server_cpu_ms_per_conn": round(1000 * cpu / n, 3) if n else None,
          "rss_end_mb": round(a["rss_kb"] / 1024, 1), "hwm_mb": round(a["hwm_kb"] / 1024, 1)})
if sys.argv[4] and sys.argv[5]:
    rb, ra = json.loads(sys.argv[4]), json.loads(sys.argv[5])
    f["relay_cpu_s"] = round(ra["cpu_s"] - rb["cpu_s"], 2)
print(json.dumps(f))
EOF
  stop_relay
  stop_server
  srv_ns=""
  local err=()
  [ $rc -eq 0 ] || err=(--error "client exit status $rc")
  [ ${#line_err[@]} -eq 0 ] || err=("${line_err[@]}")
  record tls "$name" "$fig" --param "delay_line=$tls_line" --param "one_way_ms=$delay_ms" \
    --param "curl_exchange_ms=$line_ms" --param "client=$client" --param "rate=$tls_rate" \
    --param "workers=$tls_workers" "${err[@]}"
}

# ---------------------------------------------------------------- main
# The whole run is one function, read in full before it starts, so that editing
# this file during a run does not change what the run does.
main() {
IFS=, read -r -a server_list <<<"$servers"
IFS=, read -r -a scenario_list <<<"$scenarios"
active=()
for s in "${server_list[@]}"; do
  case $s in
    skarn) [ -x "$skarn_bin" ] || { say "skipping skarn: $skarn_bin not found"; continue; } ;;
    baseline) [ -x "$baseline_bin" ] || { say "skipping baseline: $baseline_bin not found"; continue; } ;;
    nginx) command -v nginx >/dev/null || { say "skipping nginx: not installed"; continue; } ;;
    gsoap)
      if [ -z "$gsoap_bin" ]; then
        if [ -x "$repo/build/bin/gsoap_echo_server" ]; then
          gsoap_bin=$repo/build/bin/gsoap_echo_server
        elif command -v soapcpp2 >/dev/null; then
          say "building the gSOAP peer"
          gsoap_bin=$("$repo/bench/gsoap/build.sh" "$results/gsoap-build" 2>"$logs/gsoap-build.err" | tail -1)
        fi
      fi
      [ -n "$gsoap_bin" ] && [ -x "$gsoap_bin" ] || { say "skipping gsoap: no gsoap_echo_server (install gsoap libgsoap-dev)"; continue; }
      ;;
    *) say "unknown server $s"; exit 2 ;;
  esac
  active+=("$s")
done

if has "$scenarios" tls; then
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$results/key.pem" -out "$results/cert.pem" \
    -days 2 -subj /CN=localhost >/dev/null 2>&1 || say "could not make a certificate"
fi

for scen in "${scenario_list[@]}"; do
  local reps=1 rep
  case $scen in keepalive-*) reps=$repeat ;; esac
  for rep in $(seq 1 "$reps"); do
  for s in "${active[@]}"; do
    say "== $scen / $s$([ "$reps" -gt 1 ] && echo " (run $rep of $reps)")"
    case $scen in
      keepalive-*) run_keepalive "$s" "${scen#keepalive-}" "$rep" ;;
      idle) run_idle "$s" ;;
      trickle) run_trickle "$s" ;;
      tls) run_tls "$s" ;;
      *) say "unknown scenario $scen" ;;
    esac
  done
  done
done

say "machine at the end: $(uptime)"
python3 - "$results/meta.json" <<'EOF'
import json, subprocess, sys, time
m = json.load(open(sys.argv[1]))
m["uptime_at_end"] = subprocess.run("uptime", capture_output=True, text=True).stdout.strip()
m["finished"] = time.strftime("%Y-%m-%dT%H:%M:%S%z")
json.dump(m, open(sys.argv[1], "w"), indent=1)
EOF
echo
python3 "$here/report.py" table "$jsonl" "$results"
echo
say "written: $results/results.json $results/results.tsv (logs in $results/logs)"
}
main; exit $?

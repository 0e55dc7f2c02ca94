#!/usr/bin/env python3
"""Which client connections to a server are being answered during a load run.

Samples the client side of every TCP connection to 127.0.0.1:PORT twice (ss -tni),
FIRST and SECOND seconds after the run's start (--start, a time.time() value; by
default when this program starts), and prints one JSON object: how many
connections there were, in which states, and how many received bytes between the
two samples ("progressing"). A connection that is established but receives
nothing over the window is waiting on a server that does not answer it; one
still in SYN-SENT was never accepted.
"""
import argparse
import json
import re
import subprocess
import time

BYTES = re.compile(r"bytes_received:(\d+)")


def sample(port):
    out = subprocess.run(["ss", "-tanHi", f"dport = :{port}"], capture_output=True, text=True, timeout=30).stdout
    conns, key = {}, None
    for line in out.splitlines():
        if not line.startswith((" ", "\t")):
            parts = line.split()
            if len(parts) >= 5:
                key = parts[3]
                conns[key] = [parts[0], 0]
            continue
        if key is not None:
            m = BYTES.search(line)
            if m:
                conns[key][1] = int(m.group(1))
    return conns


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--first", type=float, required=True)
    p.add_argument("--second", type=float, required=True)
    p.add_argument("--start", type=float, default=None)
    a = p.parse_args()
    t0 = a.start if a.start is not None else time.time()
    time.sleep(max(0.0, t0 + a.first - time.time()))
    s1 = sample(a.port)
    time.sleep(max(0.0, t0 + a.second - time.time()))
    s2 = sample(a.port)
    states = {}
    for st, _ in s2.values():
        states[st] = states.get(st, 0) + 1
    progressing = sum(1 for k, (st, b) in s2.items() if k in s1 and b > s1[k][1])
    established = states.get("ESTAB", 0)
    print(json.dumps({
        "watch_window_s": round(a.second - a.first, 1),
        "states": states,
        "conns_seen": len(s2),
        "established": established,
        "syn_sent": states.get("SYN-SENT", 0),
        "progressing": progressing,
        "stalled": sum(1 for k, (st, b) in s2.items() if st == "ESTAB" and (k not in s1 or b <= s1[k][1])),
    }))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Turns h2load's report (on stdin) into one JSON object.

  h2load_json.py [--offered-rate R]
Keeps what the TLS scenario needs: the wall time, how many requests succeeded or
failed, the achieved rate, the TLS version, and the connect / first-byte times.
"""
import argparse
import json
import re
import sys

UNITS = {"us": 0.001, "ms": 1.0, "s": 1000.0}


def ms(text):
    m = re.match(r"([\d.]+)(us|ms|s)$", text)
    return round(float(m.group(1)) * UNITS[m.group(2)], 3) if m else None


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--offered-rate", type=float)
    a = p.parse_args()
    text = sys.stdin.read()
    out = {"offered_rate": a.offered_rate}
    m = re.search(r"finished in ([\d.]+)s, ([\d.]+) req/s", text)
    if m:
        out["seconds"] = float(m.group(1))
    m = re.search(r"requests: (\d+) total, (\d+) started, (\d+) done, (\d+) succeeded, (\d+) failed, "
                  r"(\d+) errored, (\d+) timeout", text)
    if m:
        keys = ["total", "started", "done", "succeeded", "failed", "errored", "timeout"]
        out.update({k: int(v) for k, v in zip(keys, m.groups())})
    m = re.search(r"status codes: (\d+) 2xx, (\d+) 3xx, (\d+) 4xx, (\d+) 5xx", text)
    if m:
        out["status_2xx"] = int(m.group(1))
    m = re.search(r"TLS Protocol: (\S+)", text)
    out["tls_version"] = m.group(1) if m else None
    for label, key in (("time for connect", "connect"), ("time to 1st byte", "first_byte"),
                       ("time for request", "request")):
        m = re.search(re.escape(label) + r":\s+(\S+)\s+(\S+)\s+(\S+)", text)
        if m:
            out[f"{key}_min_ms"], out[f"{key}_max_ms"], out[f"{key}_mean_ms"] = (ms(x) for x in m.groups())
    if out.get("seconds") and "succeeded" in out:
        # Connections are made one request each, so answered requests are new connections.
        out["connections"] = out.get("status_2xx", out["succeeded"])
        out["conn_per_s"] = round(out["connections"] / out["seconds"], 1)
    print(json.dumps(out))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Opens many connections, holds them idle, then sends one request on each.

Prints one JSON object: how many connected, how many the server closed while idle,
how many requests were answered (200 with the echoed text), their latency, and the
server's resident set while the connections were held and after they were answered.
"""
import argparse
import asyncio
import json
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import httpc  # noqa: E402
import procstat  # noqa: E402


async def main(a):
    body = open(a.body, "rb").read()
    req = httpc.request_bytes(body)
    sampler = procstat.Sampler(a.server_pid) if a.server_pid else None
    sampling = asyncio.ensure_future(sampler.run()) if sampler else None
    before = procstat.tree_stats(a.server_pid) if a.server_pid else None

    conns, connect_errors = [], {}

    async def connect():
        try:
            r, w = await asyncio.wait_for(asyncio.open_connection("127.0.0.1", a.port), a.connect_timeout)
            conns.append((r, w))
        except Exception as e:  # counted by kind, not raised
            k = type(e).__name__
            connect_errors[k] = connect_errors.get(k, 0) + 1

    t0 = time.monotonic()
    try:
        await asyncio.wait_for(httpc.gather_limited([connect() for _ in range(a.conns)], a.parallel), a.connect_budget)
    except asyncio.TimeoutError:
        connect_errors["budget"] = a.conns - len(conns) - sum(connect_errors.values())
    connect_s = time.monotonic() - t0

    await asyncio.sleep(a.hold)
    held = procstat.tree_stats(a.server_pid) if a.server_pid else None
    closed_idle = sum(1 for r, _ in conns if r.at_eof())

    latencies, outcome = [], {"answered": 0, "bad_status": 0, "closed": 0, "timeout": 0, "error": 0}

    async def exchange(r, w):
        try:
            seconds = await httpc.exchange(r, w, req, a.answer_timeout)
            if seconds is not None:
                outcome["answered"] += 1
                latencies.append(seconds)
            else:
                outcome["bad_status"] += 1
        except asyncio.TimeoutError:
            outcome["timeout"] += 1
        except (asyncio.IncompleteReadError, ConnectionError):
            outcome["closed"] += 1
        except Exception:
            outcome["error"] += 1

    t1 = time.monotonic()
    await asyncio.gather(*(exchange(r, w) for r, w in conns))
    answer_s = time.monotonic() - t1
    after = procstat.tree_stats(a.server_pid) if a.server_pid else None
    for _, w in conns:
        httpc.close_quietly(w)
    if sampling:
        sampling.cancel()

    out = {
        "conns": a.conns,
        "connected": len(conns),
        "connect_errors": connect_errors,
        "connect_s": round(connect_s, 2),
        "closed_while_idle": closed_idle,
        "answer_s": round(answer_s, 2),
        **outcome,
        **httpc.summary_ms(latencies),
    }
    if a.server_pid:
        out.update({
            "rss_held_mb": round(held["rss_kb"] / 1024, 1),
            "rss_peak_mb": round(max(sampler.peak_rss_kb, after["rss_kb"]) / 1024, 1),
            "server_threads_held": held["threads"],
            **procstat.summary(before, after),
        })
    print(json.dumps(out))


if __name__ == "__main__":
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--body", required=True)
    p.add_argument("--conns", type=int, default=10000)
    p.add_argument("--hold", type=float, default=5.0, help="seconds the connections stay idle")
    p.add_argument("--parallel", type=int, default=256, help="connection attempts in flight")
    p.add_argument("--connect-timeout", type=float, default=10.0)
    p.add_argument("--connect-budget", type=float, default=60.0, help="seconds for opening them all")
    p.add_argument("--answer-timeout", type=float, default=20.0)
    p.add_argument("--server-pid", type=int)
    asyncio.run(main(p.parse_args()))

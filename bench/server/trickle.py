#!/usr/bin/env python3
"""A normal client's latency while slow and silent connections are held open.

Opens TRICKLERS connections that each send a request head one byte per second and
SILENT connections that send nothing, waits SETTLE seconds, then a normal client
makes REQUESTS sequential requests over one kept-alive connection (reconnecting if
the server closes it). Prints one JSON object with the normal client's latencies,
how many of its requests were answered, and how many of the held connections the
server closed.
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

SLOW_HEAD = (
    b"POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/xml; charset=utf-8\r\n"
    b'SOAPAction: ""\r\nContent-Length: 1024\r\nX-Padding: ' + b"p" * 200 + b"\r\n\r\n"
)


async def main(a):
    body = open(a.body, "rb").read()
    req = httpc.request_bytes(body)
    before = procstat.tree_stats(a.server_pid) if a.server_pid else None
    held = {"trickle": [], "silent": []}
    connect_errors = {}
    stop = asyncio.Event()

    async def connect(kind):
        try:
            r, w = await asyncio.wait_for(asyncio.open_connection("127.0.0.1", a.port), a.connect_timeout)
            held[kind].append((r, w))
        except Exception as e:
            k = f"{kind}:{type(e).__name__}"
            connect_errors[k] = connect_errors.get(k, 0) + 1

    trickle_write_failures = 0

    async def trickle(w):
        nonlocal trickle_write_failures
        for i in range(len(SLOW_HEAD)):
            if stop.is_set():
                return
            try:
                w.write(SLOW_HEAD[i:i + 1])
                await w.drain()
            except Exception:
                trickle_write_failures += 1
                return
            try:
                await asyncio.wait_for(stop.wait(), 1.0)
            except asyncio.TimeoutError:
                pass

    t0 = time.monotonic()
    kinds = ["trickle"] * a.tricklers + ["silent"] * a.silent
    try:
        await asyncio.wait_for(httpc.gather_limited([connect(k) for k in kinds], a.parallel), a.connect_budget)
    except asyncio.TimeoutError:
        connect_errors["budget"] = len(kinds) - len(held["trickle"]) - len(held["silent"]) - sum(connect_errors.values())
    connect_s = time.monotonic() - t0
    tasks = [asyncio.ensure_future(trickle(w)) for _, w in held["trickle"]]
    await asyncio.sleep(a.settle)

    latencies = []
    res = {"answered": 0, "failed": 0, "reconnects": 0, "gave_up": 0}
    r = w = None
    consecutive = 0
    deadline = time.monotonic() + a.budget
    for i in range(a.requests):
        if consecutive >= a.max_consecutive_failures or time.monotonic() > deadline:
            res["gave_up"] = a.requests - i
            break
        start = time.monotonic()
        try:
            if w is None:
                r, w = await asyncio.wait_for(asyncio.open_connection("127.0.0.1", a.port), a.request_timeout)
                if i > 0:
                    res["reconnects"] += 1
            w.write(req)
            status, rbody, closes = await asyncio.wait_for(httpc.read_response(r), a.request_timeout)
            if httpc.good(status, rbody):
                latencies.append(time.monotonic() - start)
                res["answered"] += 1
                consecutive = 0
            else:
                res["failed"] += 1
                consecutive += 1
            if closes:
                httpc.close_quietly(w)
                w = None
        except Exception:
            res["failed"] += 1
            consecutive += 1
            if w is not None:
                httpc.close_quietly(w)
            w = None
    if w is not None:
        httpc.close_quietly(w)

    after = procstat.tree_stats(a.server_pid) if a.server_pid else None
    closed = {k: sum(1 for rr, _ in v if rr.at_eof()) for k, v in held.items()}
    stop.set()
    await asyncio.gather(*tasks, return_exceptions=True)
    for v in held.values():
        for _, ww in v:
            httpc.close_quietly(ww)

    out = {
        "tricklers": a.tricklers,
        "silent": a.silent,
        "trickle_connected": len(held["trickle"]),
        "silent_connected": len(held["silent"]),
        "connect_errors": connect_errors,
        "connect_s": round(connect_s, 2),
        "trickle_closed_by_server": closed["trickle"],
        "silent_closed_by_server": closed["silent"],
        "trickle_write_failures": trickle_write_failures,
        "requests": a.requests,
        **res,
        **httpc.summary_ms(latencies),
    }
    if a.server_pid:
        out.update(procstat.summary(before, after))
    print(json.dumps(out))


if __name__ == "__main__":
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--body", required=True)
    p.add_argument("--tricklers", type=int, default=1000)
    p.add_argument("--silent", type=int, default=1000)
    p.add_argument("--requests", type=int, default=200)
    p.add_argument("--settle", type=float, default=3.0, help="seconds between opening the held connections and the first request")
    p.add_argument("--parallel", type=int, default=256)
    p.add_argument("--connect-timeout", type=float, default=10.0)
    p.add_argument("--connect-budget", type=float, default=60.0)
    p.add_argument("--request-timeout", type=float, default=5.0)
    p.add_argument("--max-consecutive-failures", type=int, default=3)
    p.add_argument("--budget", type=float, default=60.0, help="seconds for the normal client's requests")
    p.add_argument("--server-pid", type=int)
    asyncio.run(main(p.parse_args()))

#!/usr/bin/env python3
"""New TLS connections per second: each worker connects, completes a full handshake
(no session resumption), sends one request with Connection: close, reads the answer
and closes, over and over for SECONDS. Prints one JSON object.
"""
import argparse
import asyncio
import json
import os
import ssl
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import httpc  # noqa: E402
import procstat  # noqa: E402


async def main(a):
    body = open(a.body, "rb").read()
    req = httpc.request_bytes(body, close=True)
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    ctx.check_hostname = False
    ctx.verify_mode = ssl.CERT_NONE
    before = procstat.tree_stats(a.server_pid) if a.server_pid else None
    latencies, errors = [], {}
    done = {"ok": 0, "bad": 0}
    versions = {}
    t_end = time.monotonic() + a.seconds

    async def worker():
        while time.monotonic() < t_end:
            start = time.monotonic()
            w = None
            try:
                r, w = await asyncio.wait_for(
                    asyncio.open_connection(a.host, a.port, ssl=ctx, server_hostname="localhost"), a.timeout)
                v = w.get_extra_info("ssl_object").version()
                versions[v] = versions.get(v, 0) + 1
                if await httpc.exchange(r, w, req, a.timeout) is not None:
                    done["ok"] += 1
                    latencies.append(time.monotonic() - start)  # with the connection and handshake
                else:
                    done["bad"] += 1
            except Exception as e:
                k = type(e).__name__
                errors[k] = errors.get(k, 0) + 1
                await asyncio.sleep(0.05)
            finally:
                if w is not None:
                    httpc.close_quietly(w)

    t0 = time.monotonic()
    await asyncio.gather(*(worker() for _ in range(a.workers)))
    elapsed = time.monotonic() - t0
    after = procstat.tree_stats(a.server_pid) if a.server_pid else None
    out = {
        "workers": a.workers,
        "seconds": round(elapsed, 2),
        "connections": done["ok"],
        "conn_per_s": round(done["ok"] / elapsed, 1),
        "bad_answers": done["bad"],
        "errors": errors,
        "tls_versions": versions,
        **httpc.summary_ms(latencies),
    }
    if a.server_pid:
        out.update({
            **procstat.summary(before, after),
            "server_cpu_ms_per_conn": round(1000 * (after["cpu_s"] - before["cpu_s"]) / done["ok"], 3) if done["ok"] else None,
        })
    print(json.dumps(out))


if __name__ == "__main__":
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--body", required=True)
    p.add_argument("--seconds", type=float, default=10.0)
    p.add_argument("--workers", type=int, default=64)
    p.add_argument("--timeout", type=float, default=10.0)
    p.add_argument("--server-pid", type=int)
    asyncio.run(main(p.parse_args()))

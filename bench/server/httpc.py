"""Small asyncio HTTP/1.1 client pieces shared by the scenario scripts."""
import asyncio
import math
import statistics
import time

# Every answer to the benchmark envelope carries this text (the echoed string).
MARKER = b"abcdefghijklmnopqrstuvwxyz0123456789"


def request_bytes(body, host="127.0.0.1", close=False):
    head = (
        "POST / HTTP/1.1\r\n"
        f"Host: {host}\r\n"
        "Content-Type: text/xml; charset=utf-8\r\n"
        'SOAPAction: ""\r\n'
        f"Content-Length: {len(body)}\r\n"
        + ("Connection: close\r\n" if close else "")
        + "\r\n"
    )
    return head.encode() + body


async def read_response(reader):
    """Reads one response; returns (status, body, server_closes)."""
    head = await reader.readuntil(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    status = int(lines[0].split()[1])
    length, chunked, closes = None, False, False
    for line in lines[1:]:
        name, _, value = line.partition(":")
        name, value = name.strip().lower(), value.strip().lower()
        if name == "content-length":
            length = int(value)
        elif name == "transfer-encoding" and "chunked" in value:
            chunked = True
        elif name == "connection" and "close" in value:
            closes = True
    if chunked:
        body = b""
        while True:
            size = int((await reader.readuntil(b"\r\n")).split(b";")[0], 16)
            if size == 0:
                await reader.readuntil(b"\r\n")
                break
            body += await reader.readexactly(size)
            await reader.readexactly(2)
    elif length is not None:
        body = await reader.readexactly(length)
    else:
        body = await reader.read()
        closes = True
    return status, body, closes


def good(status, body):
    return status == 200 and MARKER in body


async def exchange(reader, writer, request, timeout):
    """Sends one request and reads its answer: the seconds it took when the
    answer is the echo, None for another answer. Time-outs and connection
    errors pass through."""
    start = time.monotonic()
    writer.write(request)
    status, body, _ = await asyncio.wait_for(read_response(reader), timeout)
    return time.monotonic() - start if good(status, body) else None


def percentile(values, p):
    """Nearest-rank percentile of a list of numbers (None when empty)."""
    if not values:
        return None
    v = sorted(values)
    k = max(0, min(len(v) - 1, math.ceil(p / 100.0 * len(v)) - 1))
    return v[k]


def summary_ms(latencies_s):
    ms = [x * 1000.0 for x in latencies_s]
    return {
        "p50_ms": round(percentile(ms, 50), 3) if ms else None,
        "p99_ms": round(percentile(ms, 99), 3) if ms else None,
        "max_ms": round(max(ms), 3) if ms else None,
        "mean_ms": round(statistics.fmean(ms), 3) if ms else None,
    }


def close_quietly(writer):
    try:
        writer.close()
    except Exception:
        pass


async def gather_limited(coros, limit):
    sem = asyncio.Semaphore(limit)

    async def one(c):
        try:
            async with sem:
                return await c
        finally:
            c.close()  # a coroutine cancelled before it started is closed, not left unawaited

    return await asyncio.gather(*(one(c) for c in coros), return_exceptions=True)
